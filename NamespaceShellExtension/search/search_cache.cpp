#include "search/search_cache.h"

#include "base/process_object.h"

#include <algorithm>
#include <condition_variable>
#include <cwctype>
#include <limits>

// One run of one query. Every field is guarded by the mutex of the cache that made the run.
struct search_run_state
{
    search_state state = search_state::running;
    // When the state last changed.
    search_cache::clock::time_point changed_at{};
    // In the order the index returned them; a running search appends, nothing else ever removes.
    std::vector<search_result_record> records;
    // (path_hash of a record's path, its index), sorted, for records[0, indexed); the few rows after
    // them are compared one by one until the next batch of them is indexed.
    std::vector<std::pair<std::uint64_t, std::uint32_t>> path_index;
    std::size_t indexed = 0;
    // Followers wait on this for new rows or the end of the run; `wake_at` is the row count that the
    // first of them waits for (none waits: the largest value).
    std::condition_variable changed;
    std::size_t wake_at = std::numeric_limits<std::size_t>::max();
};

namespace
{
// Rows a running search adds before they are indexed.
constexpr std::size_t index_batch_rows = 256;

bool equal_after_lower_casing(std::wstring_view a, std::wstring_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && std::towlower(a[i]) != std::towlower(b[i]))
            return false;
    return true;
}

// Indexes the rows after `indexed`. Without memory for that the rows stay unindexed, still found one by
// one: nothing is lost.
void index_new_rows(search_run_state& run) noexcept
{
    const std::size_t before = run.path_index.size();
    try
    {
        run.path_index.reserve(run.records.size());
    }
    catch (...)
    {
        return;
    }
    for (std::size_t i = run.indexed; i < run.records.size(); ++i)
        run.path_index.emplace_back(search_cache::path_hash(run.records[i].path), static_cast<std::uint32_t>(i));
    std::sort(run.path_index.begin() + static_cast<std::ptrdiff_t>(before), run.path_index.end());
    // Merges without a buffer when none can be had; it never throws for these pairs.
    std::inplace_merge(run.path_index.begin(), run.path_index.begin() + static_cast<std::ptrdiff_t>(before),
                       run.path_index.end());
    run.indexed = run.records.size();
}

const search_result_record* find_in_run(const search_run_state& run, std::wstring_view path, std::uint64_t hash)
{
    auto at = std::lower_bound(run.path_index.begin(), run.path_index.end(), std::pair<std::uint64_t, std::uint32_t>(hash, 0));
    for (; at != run.path_index.end() && at->first == hash; ++at)
    {
        const auto& record = run.records[at->second];
        if (equal_after_lower_casing(record.path, path))
            return &record;
    }
    for (std::size_t i = run.indexed; i < run.records.size(); ++i)
        if (equal_after_lower_casing(run.records[i].path, path))
            return &run.records[i];
    return nullptr;
}

bool is_listed(const search_run_state& run) noexcept
{
    return run.state == search_state::finished || run.state == search_state::running;
}
} // namespace

std::wstring search_cache_key(std::wstring_view text)
{
    std::wstring key(text);
    for (auto& c : key)
        c = static_cast<wchar_t>(std::towlower(c));
    return key;
}

search_run::search_run(search_cache& cache, std::shared_ptr<search_run_state> state) noexcept
    : cache_(&cache), state_(std::move(state))
{
}

search_run::search_run(search_run&& other) noexcept : cache_(other.cache_), state_(std::move(other.state_))
{
    other.cache_ = nullptr;
}

search_run& search_run::operator=(search_run&& other) noexcept
{
    if (this != &other)
    {
        fail();
        cache_ = other.cache_;
        state_ = std::move(other.state_);
        other.cache_ = nullptr;
    }
    return *this;
}

search_run::~search_run()
{
    fail();
}

void search_run::append(const search_result_record& record)
{
    if (!state_)
        return;
    // Copied before the lock: a failed copy changes nothing.
    search_result_record copy = record;
    std::lock_guard lock(cache_->mutex_);
    auto& run = *state_;
    if (run.state != search_state::running)
        return;
    run.records.push_back(std::move(copy));
    if (run.records.size() - run.indexed >= index_batch_rows)
        index_new_rows(run);
    if (run.records.size() >= run.wake_at)
    {
        run.wake_at = std::numeric_limits<std::size_t>::max();
        run.changed.notify_all();
    }
}

void search_run::finish() noexcept
{
    if (!state_)
        return;
    {
        std::lock_guard lock(cache_->mutex_);
        auto& run = *state_;
        if (run.state == search_state::running)
        {
            index_new_rows(run);
            run.state = search_state::finished;
            run.changed_at = cache_->now_();
        }
        run.changed.notify_all();
    }
    state_.reset();
}

void search_run::fail() noexcept
{
    if (!state_)
        return;
    {
        std::lock_guard lock(cache_->mutex_);
        auto& run = *state_;
        if (run.state == search_state::running)
        {
            run.state = search_state::failed;
            run.changed_at = cache_->now_();
        }
        run.changed.notify_all();
    }
    state_.reset();
}

search_cache::search_cache() : search_cache([] { return clock::now(); })
{
}

search_cache::search_cache(std::function<clock::time_point()> now) : now_(std::move(now))
{
}

std::shared_ptr<search_run_state> search_cache::new_run(search_state state) const
{
    auto run = std::make_shared<search_run_state>();
    run->state = state;
    return run;
}

void search_cache::touch(entry& found)
{
    recency_.splice(recency_.begin(), recency_, found.recency);
}

void search_cache::evict_over_capacity()
{
    // A running search that is evicted goes on for the views that follow it; only the cache forgets it.
    while (entries_.size() > capacity && !recency_.empty())
    {
        entries_.erase(recency_.back());
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
        // Everything that can fail comes before the first change: a failed allocation leaves the cache
        // as it was.
        auto fresh = new_run(search_state::running);
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
        fresh->changed_at = now;
        found->second.run = fresh;
        found->second.recency = recency_.begin();
        evict_over_capacity();
        result.must_search = true;
        result.run = search_run(*this, std::move(fresh));
        return result;
    }

    auto& existing = found->second;
    touch(existing);
    switch (existing.run->state)
    {
    case search_state::finished:
        if (now - existing.run->changed_at <= time_to_live)
        {
            result.records = existing.run->records;
            result.ready = true;
            return result;
        }
        [[fallthrough]];
    case search_state::failed:
    {
        // A new run; the old one's rows go with the last of its holders.
        auto fresh = new_run(search_state::running);
        fresh->changed_at = now;
        existing.run = fresh;
        result.must_search = true;
        result.run = search_run(*this, std::move(fresh));
        return result;
    }
    case search_state::running:
        result.running = running_search(existing.run);
        break;
    }
    return result;
}

void search_cache::store(const std::wstring& key, std::vector<search_result_record> records)
{
    // Indexed before the lock is taken: 25,000 rows take a few milliseconds to hash and sort.
    auto finished = new_run(search_state::finished);
    finished->records = std::move(records);
    index_new_rows(*finished);
    std::lock_guard lock(mutex_);
    const auto found = entries_.find(key);
    if (found == entries_.end())
        return;
    finished->changed_at = now_();
    found->second.run = std::move(finished);
}

void search_cache::fail(const std::wstring& key) noexcept
{
    std::lock_guard lock(mutex_);
    const auto found = entries_.find(key);
    if (found == entries_.end())
        return;
    auto& run = *found->second.run;
    run.state = search_state::failed;
    run.changed_at = now_();
    run.changed.notify_all();
}

search_progress search_cache::follow(const running_search& followed, std::size_t offset, std::chrono::milliseconds timeout)
{
    search_progress progress;
    if (!followed.state_)
    {
        progress.state = search_state::failed;
        return progress;
    }
    auto& run = *followed.state_;
    std::unique_lock lock(mutex_);
    const std::size_t enough = offset + follow_batch_rows;
    // Every wake-up re-arms `wake_at`: an append clears it when it wakes the waiters, and one left by a
    // follower that has gone may wake this one before its own rows are there.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (run.state == search_state::running && run.records.size() < enough)
    {
        run.wake_at = std::min(run.wake_at, enough);
        if (run.changed.wait_until(lock, deadline) == std::cv_status::timeout)
            break;
    }
    progress.state = run.state;
    if (offset < run.records.size())
        progress.records.assign(run.records.begin() + static_cast<std::ptrdiff_t>(offset), run.records.end());
    return progress;
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

const search_result_record* search_cache::find_listed_record(std::wstring_view path, std::uint64_t hash) const
{
    for (const auto& [key, found] : entries_)
        if (is_listed(*found.run))
            if (const auto* record = find_in_run(*found.run, path, hash))
                return record;
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
        auto& run = *found.run;
        if (!is_listed(run))
            continue;
        std::vector<std::size_t> positions;
        auto at = std::lower_bound(run.path_index.begin(), run.path_index.end(),
                                   std::pair<std::uint64_t, std::uint32_t>(old_hash, 0));
        for (; at != run.path_index.end() && at->first == old_hash; ++at)
            if (equal_after_lower_casing(run.records[at->second].path, old_path))
                positions.push_back(static_cast<std::size_t>(at - run.path_index.begin()));
        std::vector<std::size_t> unindexed;
        for (std::size_t i = run.indexed; i < run.records.size(); ++i)
            if (equal_after_lower_casing(run.records[i].path, old_path))
                unindexed.push_back(i);
        if (positions.empty() && unindexed.empty())
            continue;
        // Copies first, so that running out of memory leaves records and index as they were.
        std::vector<std::wstring> new_paths(positions.size() + unindexed.size(), new_path);
        for (std::size_t i = 0; i < positions.size(); ++i)
        {
            auto& slot = run.path_index[positions[i]];
            run.records[slot.second].path.swap(new_paths[i]);
            slot.first = new_hash;
        }
        for (std::size_t i = 0; i < unindexed.size(); ++i)
            run.records[unindexed[i]].path.swap(new_paths[positions.size() + i]);
        if (!positions.empty())
            std::sort(run.path_index.begin(), run.path_index.end());
        renamed += positions.size() + unindexed.size();
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
    static process_object<search_cache> cache;
    return cache.get();
}
