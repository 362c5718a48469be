#include "search/search_cache.h"

#include <algorithm>
#include <cwctype>

namespace
{
bool equal_after_lower_casing(std::wstring_view a, std::wstring_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && std::towlower(a[i]) != std::towlower(b[i]))
            return false;
    return true;
}

std::vector<std::pair<std::uint64_t, std::uint32_t>> index_paths(const std::vector<search_result_record>& records)
{
    std::vector<std::pair<std::uint64_t, std::uint32_t>> index;
    index.reserve(records.size());
    for (std::size_t i = 0; i < records.size(); ++i)
        index.emplace_back(search_cache::path_hash(records[i].path), static_cast<std::uint32_t>(i));
    std::sort(index.begin(), index.end());
    return index;
}
} // namespace

std::wstring search_cache_key(std::wstring_view text)
{
    std::wstring key(text);
    for (auto& c : key)
        c = static_cast<wchar_t>(std::towlower(c));
    return key;
}

search_cache::search_cache() : search_cache([] { return clock::now(); })
{
}

search_cache::search_cache(std::function<clock::time_point()> now) : now_(std::move(now))
{
}

void search_cache::touch(entry& found)
{
    recency_.splice(recency_.begin(), recency_, found.recency);
}

void search_cache::evict_over_capacity()
{
    while (entries_.size() > capacity && !recency_.empty())
    {
        const auto found = entries_.find(recency_.back());
        if (found != entries_.end())
        {
            // A waiter of an evicted search looks again and finds it gone.
            found->second.changed->notify_all();
            entries_.erase(found);
        }
        recency_.pop_back();
    }
}

search_cache_lookup search_cache::lookup(const std::wstring& key)
{
    search_cache_lookup result;
    std::lock_guard lock(mutex_);
    const auto now = now_();
    auto found = entries_.find(key);
    if (found == entries_.end())
    {
        recency_.push_front(key);
        try
        {
            found = entries_.try_emplace(key).first;
        }
        catch (...)
        {
            recency_.pop_front();
            throw;
        }
        found->second.changed_at = now;
        found->second.recency = recency_.begin();
        evict_over_capacity();
        result.must_search = true;
        return result;
    }

    auto& existing = found->second;
    touch(existing);
    switch (existing.state)
    {
    case entry_state::finished:
        if (now - existing.changed_at <= time_to_live)
        {
            result.records = existing.records;
            result.ready = true;
            return result;
        }
        [[fallthrough]];
    case entry_state::failed:
        existing.records.clear();
        existing.records.shrink_to_fit();
        existing.path_index.clear();
        existing.path_index.shrink_to_fit();
        existing.state = entry_state::running;
        existing.changed_at = now;
        result.must_search = true;
        return result;
    case entry_state::running:
        break;
    }
    return result;
}

void search_cache::store(const std::wstring& key, std::vector<search_result_record> records)
{
    // Indexed before the lock is taken: 25,000 rows take a few milliseconds to hash and sort.
    auto index = index_paths(records);
    std::lock_guard lock(mutex_);
    const auto found = entries_.find(key);
    if (found == entries_.end())
        return;
    found->second.records = std::move(records);
    found->second.path_index = std::move(index);
    found->second.state = entry_state::finished;
    found->second.changed_at = now_();
    found->second.changed->notify_all();
}

void search_cache::fail(const std::wstring& key) noexcept
{
    std::lock_guard lock(mutex_);
    const auto found = entries_.find(key);
    if (found == entries_.end())
        return;
    found->second.state = entry_state::failed;
    found->second.changed_at = now_();
    found->second.changed->notify_all();
}

void search_cache::wait_for_change(const std::wstring& key, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    const auto found = entries_.find(key);
    if (found == entries_.end() || found->second.state != entry_state::running)
        return;
    // Held by value: eviction may destroy the entry while this thread waits.
    const auto changed = found->second.changed;
    changed->wait_for(lock, timeout);
}

void search_cache::add_moved_path(std::wstring_view path)
{
    auto key = search_cache_key(path);
    std::lock_guard lock(mutex_);
    insert_moved_path(std::move(key));
}

void search_cache::insert_moved_path(std::wstring key)
{
    moved_paths_.insert(std::move(key));
    if (moved_paths_.size() > moved_path_capacity)
        moved_paths_.clear();
}

std::uint64_t search_cache::path_hash(std::wstring_view path) noexcept
{
    std::uint64_t hash = 14695981039346656037ull;
    for (const wchar_t c : path)
    {
        hash ^= static_cast<std::uint16_t>(std::towlower(c));
        hash *= 1099511628211ull;
    }
    return hash;
}

const search_result_record* search_cache::find_finished_record(std::wstring_view path, std::uint64_t hash) const
{
    for (const auto& [key, found] : entries_)
    {
        if (found.state != entry_state::finished)
            continue;
        auto at = std::lower_bound(found.path_index.begin(), found.path_index.end(),
                                   std::pair<std::uint64_t, std::uint32_t>(hash, 0));
        for (; at != found.path_index.end() && at->first == hash; ++at)
        {
            const auto& record = found.records[at->second];
            if (equal_after_lower_casing(record.path, path))
                return &record;
        }
    }
    return nullptr;
}

std::size_t search_cache::rename_result_path(std::wstring_view old_path, const std::wstring& new_path)
{
    auto moved = search_cache_key(old_path);
    const std::uint64_t old_hash = path_hash(old_path);
    const std::uint64_t new_hash = path_hash(new_path);
    std::size_t renamed = 0;
    std::lock_guard lock(mutex_);
    insert_moved_path(std::move(moved));
    for (auto& [key, found] : entries_)
    {
        if (found.state != entry_state::finished)
            continue;
        std::vector<std::size_t> positions;
        auto at = std::lower_bound(found.path_index.begin(), found.path_index.end(),
                                   std::pair<std::uint64_t, std::uint32_t>(old_hash, 0));
        for (; at != found.path_index.end() && at->first == old_hash; ++at)
            if (equal_after_lower_casing(found.records[at->second].path, old_path))
                positions.push_back(static_cast<std::size_t>(at - found.path_index.begin()));
        if (positions.empty())
            continue;
        // Copies first, so that running out of memory leaves records and index as they were.
        std::vector<std::wstring> new_paths(positions.size(), new_path);
        for (std::size_t i = 0; i < positions.size(); ++i)
        {
            auto& slot = found.path_index[positions[i]];
            found.records[slot.second].path.swap(new_paths[i]);
            slot.first = new_hash;
        }
        std::sort(found.path_index.begin(), found.path_index.end());
        renamed += positions.size();
    }
    return renamed;
}

bool search_cache::is_moved_path(std::wstring_view path) const
{
    const auto key = search_cache_key(path);
    std::lock_guard lock(mutex_);
    return moved_paths_.count(key) != 0;
}

std::size_t search_cache::size() const
{
    std::lock_guard lock(mutex_);
    return entries_.size();
}

search_cache& process_search_cache()
{
    // Worker threads that outlive every COM object hold the module, so the cache outlives them too.
    static search_cache cache;
    return cache;
}
