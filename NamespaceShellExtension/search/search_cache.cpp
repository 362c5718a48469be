#include "search/search_cache.h"

#include <cwctype>

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
    std::lock_guard lock(mutex_);
    const auto found = entries_.find(key);
    if (found == entries_.end())
        return;
    found->second.records = std::move(records);
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
    moved_paths_.insert(std::move(key));
    if (moved_paths_.size() > moved_path_capacity)
        moved_paths_.clear();
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
