#pragma once
// The worker threads behind the enumeration of a saved search. When the search cache tells the
// enumerator to run the query, a search thread runs it and stores the rows; when another thread is
// already running it, a waiting thread polls the cache until the rows are there. Either hands the rows
// to the enumerator and marks it complete; Explorer's Next waits for that in 75 ms slices.
//
// Both threads are detached. Each holds a reference on its enumerator and on this module until it ends,
// so neither can be unloaded under it.

#include "search/search_cache.h"
#include "search/search_result_record.h"

#include <chrono>
#include <string>
#include <vector>

// What a worker thread delivers to: the enumerator of a saved search.
class search_results_target
{
public:
    // The thread's reference, taken before it starts and given back as it ends.
    virtual void add_reference() noexcept = 0;
    virtual void release_reference() noexcept = 0;
    // Turns the rows into result items and appends them under the items lock. May throw; the thread
    // logs the exception and completes the enumeration all the same.
    virtual void append_results(const std::vector<search_result_record>& records) = 0;
    // Sets `complete` under the state mutex and wakes every waiter.
    virtual void complete() noexcept = 0;

protected:
    ~search_results_target() = default;
};

// The waiting thread's polling period.
inline constexpr std::chrono::milliseconds search_wait_period{100};

// The bodies of the two threads, run on the calling thread (tests call them directly). `query` is the
// resolved query text, `key` its cache key.
//
// The waiting thread runs the search itself when its lookup answers must-search: the entry failed,
// expired or was evicted while it waited, which made this thread the one responsible for it. Nobody else
// would run it, and every later enumeration of that query would wait on the entry for ever.
void search_thread(search_results_target& target, search_cache& cache, const std::wstring& query,
                   const std::wstring& key);
void wait_thread(search_results_target& target, search_cache& cache, const std::wstring& query,
                 const std::wstring& key);

// Start the threads, detached, on the process's cache. Throw std::system_error when the thread cannot
// be created; a search thread that cannot start marks its cache entry failed first, so that the next
// lookup runs the query again instead of waiting for a search nobody runs.
void start_search_thread(search_results_target& target, std::wstring query, std::wstring key);
void start_wait_thread(search_results_target& target, std::wstring query, std::wstring key);
// The same on a given cache (tests).
void start_search_thread(search_results_target& target, search_cache& cache, std::wstring query, std::wstring key);
void start_wait_thread(search_results_target& target, search_cache& cache, std::wstring query, std::wstring key);
