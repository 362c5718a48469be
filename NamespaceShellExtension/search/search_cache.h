#pragma once
// The process-wide cache of search results, so that several views of one saved search share one run of
// its query: the first lookup of a query makes its caller run the search, lookups while it runs let the
// caller follow that run (the rows found so far, then the rest as they come), and finished results are
// reused for 20 seconds. Keys are the resolved query texts, lower-cased. At most 30 queries are kept, the
// least recently used leaving first.
//
// One run of a query is a shared object: the cache's entry, the thread that runs the search and the
// threads that follow it each hold it, so a run evicted from the cache still reaches the views that
// follow it. The thread that runs a search holds it through a `search_run`, which marks the run failed
// when it is dropped unfinished: no exception or failed thread start can leave an entry running for
// ever with every later view of the query waiting on it.
//
// The cache also keeps the moved-path set: the lower-cased old paths of result files that a rename
// moved, which the data object consults.

#include "search/search_result_record.h"
#include "search/volume_guard.h"

#include <chrono>
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

class search_cache;
struct search_run_state;

enum class search_state : int
{
    running = 0,
    finished = 1,
    failed = 2,
};

// The right and the duty to run one search, handed out by the lookup that answered must-search. The
// holder adds each row as the search finds it, then finishes or fails the run; a run dropped before it
// finished is marked failed, so that the next lookup runs the query again and the views that follow it
// end their lists with the rows found so far.
class search_run
{
public:
    search_run() noexcept = default;
    search_run(search_run&& other) noexcept;
    search_run& operator=(search_run&& other) noexcept;
    search_run(const search_run&) = delete;
    search_run& operator=(const search_run&) = delete;
    ~search_run();

    explicit operator bool() const noexcept { return state_ != nullptr; }

    // Adds one row, in the order the index returned it; views that follow the run see it at once, and
    // so do the columns (visit_listed_record). Throws std::bad_alloc, leaving the run as it was.
    void append(const search_result_record& record);
    // The search ended: its rows are the run's result, reused for 20 seconds.
    void finish() noexcept;
    // The search failed: the next lookup of the query runs it again.
    void fail() noexcept;

private:
    friend class search_cache;
    search_run(search_cache& cache, std::shared_ptr<search_run_state> state) noexcept;

    search_cache* cache_ = nullptr;
    std::shared_ptr<search_run_state> state_;
};

// A run that another thread is carrying out, for a view that follows it (search_cache::follow).
class running_search
{
public:
    running_search() noexcept = default;
    explicit operator bool() const noexcept { return state_ != nullptr; }

private:
    friend class search_cache;
    explicit running_search(std::shared_ptr<search_run_state> state) noexcept : state_(std::move(state)) {}
    std::shared_ptr<search_run_state> state_;
};

struct search_cache_lookup
{
    // The records were copied out.
    bool ready = false;
    // The caller is now responsible for running the search: `run` is its claim on it.
    bool must_search = false;
    std::vector<search_result_record> records;
    search_run run;
    // Neither: another thread runs the search, and this is that run.
    running_search running;
};

// What a follower of a running search takes in one step: the rows from its offset on, and whether the
// run still runs, finished (these were its last rows) or failed.
struct search_progress
{
    std::vector<search_result_record> records;
    search_state state = search_state::running;
};

class search_cache
{
public:
    // Monotonic; tests replace it to let time pass.
    using clock = tick_clock;
    using entry_state = search_state;

    static constexpr std::chrono::seconds time_to_live{20};
    static constexpr std::size_t capacity = 30;
    static constexpr std::size_t moved_path_capacity = 32;
    // A follower is woken when this many new rows are there (or when its wait ends, or the run ends).
    static constexpr std::size_t follow_batch_rows = 256;

    search_cache();
    explicit search_cache(std::function<clock::time_point()> now);
    search_cache(const search_cache&) = delete;
    search_cache& operator=(const search_cache&) = delete;

    search_cache_lookup lookup(const std::wstring& key);
    // Makes `records` the finished result of the query's entry and wakes its followers; drops them when
    // there is no entry (it was evicted). The search thread adds its rows through its `search_run`.
    void store(const std::wstring& key, std::vector<search_result_record> records);
    // Marks the query's current run failed and wakes its followers; the next lookup runs it again.
    void fail(const std::wstring& key) noexcept;

    // The rows of a running search from `offset` on. Waits until follow_batch_rows of them are there, the
    // run has ended, or `timeout` has passed, whichever is first, and answers what is there then.
    search_progress follow(const running_search& run, std::size_t offset, std::chrono::milliseconds timeout);

    // Remembers the lower-cased path; when that makes the set hold more than 32 paths, it is emptied.
    void add_moved_path(std::wstring_view path);
    bool is_moved_path(std::wstring_view path) const;

    // Calls visit(record) under the cache's mutex with the first record whose path equals `path` after
    // lower-casing, among the finished results and the rows that running searches have found so far
    // (their views show those rows already), and answers whether there was one. The columns, the sort
    // order and the view's live updates ask this for every row, so each run keeps an index of its
    // paths: a lookup costs one hash of `path` and a binary search per run, not a scan of the rows.
    // `visit` must not call into the cache or the shell.
    template <class Visit>
    bool visit_listed_record(std::wstring_view path, Visit&& visit) const
    {
        const std::uint64_t hash = path_hash(path);
        std::lock_guard lock(mutex_);
        const search_result_record* found = find_listed_record(path, hash);
        if (!found)
            return false;
        visit(*found);
        return true;
    }
    bool has_listed_record(std::wstring_view path) const
    {
        return visit_listed_record(path, [](const search_result_record&) {});
    }

    // A result file was renamed: under one lock, remembers its old path as moved and gives the new path
    // to every listed record that had the old one. Answers how many records changed.
    std::size_t rename_result_path(std::wstring_view old_path, const std::wstring& new_path);

    std::size_t size() const;

    // The hash that the path index uses: FNV-1a of the lower-cased (towlower) path.
    static std::uint64_t path_hash(std::wstring_view path) noexcept;

private:
    friend class search_run;

    struct entry
    {
        std::shared_ptr<search_run_state> run;
        std::list<std::wstring>::iterator recency;
    };

    const search_result_record* find_listed_record(std::wstring_view path, std::uint64_t hash) const;
    void insert_moved_path(std::wstring key);
    std::shared_ptr<search_run_state> new_run(search_state state) const;

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
