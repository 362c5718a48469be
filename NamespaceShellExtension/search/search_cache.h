#pragma once
// The process-wide cache of search results, so that several views of one saved search share one run of
// its query: the first lookup of a query makes its caller run the search, lookups while it runs answer
// neither ready nor must-search, and finished results are reused for 20 seconds. Keys are the resolved
// query texts, lower-cased. At most 30 queries are kept, the least recently used leaving first.
//
// The cache also keeps the moved-path set: the lower-cased old paths of result files that a rename
// moved, which the data object consults.

#include "search/search_result_record.h"
#include "search/volume_guard.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct search_cache_lookup
{
    // The records were copied out.
    bool ready = false;
    // The caller is now responsible for running the search, and for `store` or `fail` afterwards.
    bool must_search = false;
    std::vector<search_result_record> records;
};

class search_cache
{
public:
    // Monotonic; tests replace it to let time pass.
    using clock = tick_clock;

    static constexpr std::chrono::seconds time_to_live{20};
    static constexpr std::size_t capacity = 30;
    static constexpr std::size_t moved_path_capacity = 32;

    enum class entry_state : int
    {
        running = 0,
        finished = 1,
        failed = 2,
    };

    search_cache();
    explicit search_cache(std::function<clock::time_point()> now);
    search_cache(const search_cache&) = delete;
    search_cache& operator=(const search_cache&) = delete;

    search_cache_lookup lookup(const std::wstring& key);
    // Keeps the records of a finished search and wakes its waiters; drops them when the entry was
    // evicted while the search ran.
    void store(const std::wstring& key, std::vector<search_result_record> records);
    // Marks the search failed and wakes its waiters; the next lookup runs it again.
    void fail(const std::wstring& key) noexcept;

    // Blocks until `store`, `fail` or eviction changes the entry of `key`, or until `timeout` has passed,
    // whichever is first. Returns at once when there is no entry or it is not running.
    void wait_for_change(const std::wstring& key, std::chrono::milliseconds timeout);

    // Remembers the lower-cased path; when that makes the set hold more than 32 paths, it is emptied.
    void add_moved_path(std::wstring_view path);
    bool is_moved_path(std::wstring_view path) const;

    // Calls visit(record) under the cache's mutex with the first record of a finished entry whose path
    // equals `path` after lower-casing, and answers whether there was one. The columns, the sort order
    // and the view's live updates ask this for every row, so each finished entry keeps an index of its
    // paths: a lookup costs one hash of `path` and a binary search per entry, not a scan of the rows.
    // `visit` must not call into the cache or the shell.
    template <class Visit>
    bool visit_finished_record(std::wstring_view path, Visit&& visit) const
    {
        const std::uint64_t hash = path_hash(path);
        std::lock_guard lock(mutex_);
        const search_result_record* found = find_finished_record(path, hash);
        if (!found)
            return false;
        visit(*found);
        return true;
    }
    bool has_finished_record(std::wstring_view path) const
    {
        return visit_finished_record(path, [](const search_result_record&) {});
    }

    // A result file was renamed: under one lock, remembers its old path as moved and gives the new path
    // to every record of a finished entry that had the old one. Answers how many records changed.
    std::size_t rename_result_path(std::wstring_view old_path, const std::wstring& new_path);

    std::size_t size() const;

    // The hash that the path index uses: FNV-1a of the lower-cased (towlower) path.
    static std::uint64_t path_hash(std::wstring_view path) noexcept;

private:
    struct entry
    {
        entry_state state = entry_state::running;
        clock::time_point changed_at{};
        std::vector<search_result_record> records;
        // Shared with waiters, which may still hold it after the entry is evicted.
        std::shared_ptr<std::condition_variable> changed = std::make_shared<std::condition_variable>();
        std::list<std::wstring>::iterator recency;
        // (path_hash of a record's path, its index), sorted; filled by `store`.
        std::vector<std::pair<std::uint64_t, std::uint32_t>> path_index;
    };

    const search_result_record* find_finished_record(std::wstring_view path, std::uint64_t hash) const;
    void insert_moved_path(std::wstring key);

    void touch(entry& found);
    void evict_over_capacity();

    std::function<clock::time_point()> now_;
    mutable std::mutex mutex_;
    std::unordered_map<std::wstring, entry> entries_;
    // Most recently used first.
    std::list<std::wstring> recency_;
    std::unordered_set<std::wstring> moved_paths_;
};

// Lower-cases every character with towlower: the form of cache keys and moved paths.
std::wstring search_cache_key(std::wstring_view text);

// The process's cache, made on first use and kept until the module unloads.
search_cache& process_search_cache();
