#pragma once
// The worker threads behind the enumeration of a saved search. When the search cache tells the
// enumerator to run the query, a search thread runs it: each row goes to the cache as the index returns
// it and then to the enumerator, whose Next hands it to the view at once. When another thread is
// already running the query, a waiting thread follows that run through the cache: the rows found so
// far, then the rest in batches (a few hundred rows, or what came within a few tens of milliseconds).
// Either marks the enumerator complete at the end; a search that fails midway ends the list with the
// rows delivered so far.
//
// Both threads are detached. Each holds a reference on its enumerator and on this module until it ends,
// so neither can be unloaded under it.

#include "search/search_cache.h"
#include "search/search_result_record.h"

#include <chrono>
#include <span>
#include <string>

// What a worker thread delivers to: the enumerator of a saved search.
class search_results_target
{
public:
    // The thread's reference, taken before it starts and given back as it ends.
    virtual void add_reference() noexcept = 0;
    virtual void release_reference() noexcept = 0;
    // Checks the rows and appends those that become result items. May throw; the thread then logs the
    // exception, completes the enumeration with what it holds and delivers nothing more to it.
    virtual void append_results(std::span<const search_result_record> records) = 0;
    // Sets `complete` under the state mutex and wakes every waiter.
    virtual void complete() noexcept = 0;
    // False once nobody but the worker threads holds the target (the view let it go): its rows are then
    // not checked any more. A search thread still runs its query to the end for the cache.
    virtual bool wants_results() const noexcept { return true; }

protected:
    ~search_results_target() = default;
};

// How long a waiting thread waits for a batch of rows of the run it follows before it delivers what has
// come meanwhile.
inline constexpr std::chrono::milliseconds search_follow_period{25};

// The bodies of the two threads, run on the calling thread (tests call them directly). `query` is the
// resolved query text, `key` its cache key, `run` the claim of the lookup that answered must-search.
//
// The waiting thread looks the key up itself. It runs the search when its lookup answers must-search
// (the entry failed or expired, or was evicted, which made this thread the one responsible for it), and
// when the run it followed failed before finding anything it looks again. A run it followed that failed
// midway ends its list with the rows delivered so far.
void search_thread(search_results_target& target, search_run run, const std::wstring& query) noexcept;
void wait_thread(search_results_target& target, search_cache& cache, const std::wstring& query,
                 const std::wstring& key) noexcept;

// Start the threads, detached. Throw std::system_error when the thread cannot be created, or
// std::bad_alloc; either way the search thread's `run` is dropped unfinished, which marks its cache entry
// failed, so that the next lookup runs the query again instead of waiting for a search nobody runs.
void start_search_thread(search_results_target& target, search_run run, std::wstring query);
// On the process's cache, or a given one (tests).
void start_wait_thread(search_results_target& target, std::wstring query, std::wstring key);
void start_wait_thread(search_results_target& target, search_cache& cache, std::wstring query, std::wstring key);
