// The search and waiting threads against the registered stand-in (views sharing one run are the folder
// tests'): a waiter whose run failed before finding anything runs the search itself instead of waiting
// for ever, an absent search service completes the enumerations empty with its log line, a thread that
// cannot be started (whichever allocation fails) leaves no entry running, and the threads give back their
// reference on the enumerator.

#include "search/search_thread.h"

#include "failing_allocations.h"
#include "standin_client.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <new>
#include <stdexcept>

namespace
{
using namespace std::chrono_literals;
using search_service_test::index_file;

// An enumerator as the threads see it; Next's waiting is replaced by an event.
class fake_enumerator final : public search_results_target
{
public:
    fake_enumerator() : completed_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

    void add_reference() noexcept override { ++references; }
    void release_reference() noexcept override { --references; }
    void append_results(std::span<const search_result_record> records) override
    {
        if (throw_on_append)
            throw std::runtime_error("no room for the items");
        std::lock_guard lock(mutex_);
        for (const auto& record : records)
            paths_.push_back(record.path);
    }
    void complete() noexcept override
    {
        ++completions;
        SetEvent(completed_.get());
    }

    bool wait_complete(std::chrono::milliseconds timeout = 20s)
    {
        return WaitForSingleObject(completed_.get(), static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
    }
    // The thread's reference is given back just after complete().
    bool wait_released(std::chrono::milliseconds timeout = 5s)
    {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (references != 0 && std::chrono::steady_clock::now() < until)
            Sleep(5);
        return references == 0;
    }
    std::vector<std::wstring> paths()
    {
        std::lock_guard lock(mutex_);
        return paths_;
    }

    std::atomic<int> references{0};
    std::atomic<int> completions{0};
    bool throw_on_append = false;

private:
    unique_handle completed_;
    std::mutex mutex_;
    std::vector<std::wstring> paths_;
};

const std::string three_items = R"("items": [{"path": "C:\\s\\1.txt", "rank": 3}, {"path": "C:\\s\\2.txt", "rank": 2},
                                             {"path": "C:\\s\\3.txt", "rank": 1}])";
const std::vector<std::wstring> three_paths = {L"C:\\s\\1.txt", L"C:\\s\\2.txt", L"C:\\s\\3.txt"};

// The lookup that answers must-search makes the waiter responsible: nobody else would run that search.
TEST(search_thread, a_waiter_whose_run_failed_before_finding_anything_runs_the_search_itself)
{
    index_file index("{" + three_items + "}");
    for (const bool evicted : {false, true})
    {
        SCOPED_TRACE(evicted ? "evicted, then failed" : "failed");
        search_cache cache;
        auto claim = cache.lookup(L"k"); // a search thread that is about to fail
        ASSERT_TRUE(claim.must_search);
        fake_enumerator waiter;
        start_wait_thread(waiter, cache, L"", L"k");
        Sleep(250);
        if (evicted)
            for (int i = 0; i < 30; ++i)
                cache.lookup(L"other" + std::to_wstring(i));
        Sleep(100);
        EXPECT_EQ(waiter.completions, 0) << "the evicted run still runs, and the waiter follows it";
        claim.run = search_run();
        ASSERT_TRUE(waiter.wait_complete());
        EXPECT_EQ(waiter.paths(), three_paths) << "nobody else ran the search";
        EXPECT_TRUE(cache.lookup(L"k").ready) << "its rows serve the next view";
        EXPECT_TRUE(waiter.wait_released());
    }
}

// The waiter finds the run failed with nothing, searches again, fails again, and stops.
TEST(search_thread, an_absent_search_service_completes_both_enumerations_empty)
{
    index_file index("{" + three_items + R"(, "faults": {"CreateSearchManager": "0x80040154"}})");
    search_cache cache;
    test_support::log_capture log;
    fake_enumerator searcher, waiter;
    auto claim = cache.lookup(L"k");
    ASSERT_TRUE(claim.must_search);
    ASSERT_FALSE(cache.lookup(L"k").must_search);
    start_search_thread(searcher, std::move(claim.run), L"");
    start_wait_thread(waiter, cache, L"", L"k");
    ASSERT_TRUE(searcher.wait_complete());
    ASSERT_TRUE(waiter.wait_complete());
    EXPECT_TRUE(searcher.paths().empty());
    EXPECT_TRUE(waiter.paths().empty());
    EXPECT_TRUE(searcher.wait_released());
    EXPECT_TRUE(waiter.wait_released());
    EXPECT_EQ(log.messages(),
              std::vector<std::string>(2, "ERROR Exception during search: Failed to create ISearchManager instance."))
        << "one from each thread";
    EXPECT_TRUE(cache.lookup(L"k").must_search) << "the failed entry is searched again next time";
}

TEST(search_thread, an_enumerator_that_cannot_take_the_items_still_completes)
{
    index_file index("{" + three_items + "}");
    search_cache cache;
    test_support::log_capture log;
    auto claim = cache.lookup(L"k");
    ASSERT_TRUE(claim.must_search);
    fake_enumerator enumerator;
    enumerator.throw_on_append = true;
    start_search_thread(enumerator, std::move(claim.run), L"");
    ASSERT_TRUE(enumerator.wait_complete());
    EXPECT_TRUE(enumerator.wait_released());
    EXPECT_EQ(enumerator.completions, 1);
    EXPECT_EQ(log.messages(), std::vector<std::string>{"ERROR Search thread: exception: no room for the items"});
    EXPECT_TRUE(cache.lookup(L"k").ready) << "the search ran on for the cache";
}

// Every allocation on the way to a running thread fails in turn. Each failure reaches the caller as
// std::bad_alloc (EnumObjects answers it) with the enumerator's reference given back, and leaves the
// entry failed, so that the next view searches again; before, a failure after the entry was marked
// running left it running for ever and every later view of the query waited on it.
TEST(search_thread, a_thread_that_cannot_start_leaves_no_entry_running)
{
    index_file index("{" + three_items + "}");
    for (const bool waits : {false, true})
    {
        SCOPED_TRACE(waits ? "waiting thread" : "search thread");
        search_cache cache;
        auto claim = cache.lookup(L"k");
        ASSERT_TRUE(claim.must_search);
        auto running = waits ? std::move(claim.run) : search_run();
        int failures = 0;
        for (long n = 0;; ++n)
        {
            SCOPED_TRACE(n);
            fake_enumerator enumerator;
            std::wstring query, key = L"k";
            failing_allocations::fail_allocation(n);
            try
            {
                if (waits)
                    start_wait_thread(enumerator, cache, std::move(query), std::move(key));
                else
                    start_search_thread(enumerator, std::move(claim.run), std::move(query));
            }
            catch (const std::bad_alloc&)
            {
            }
            const bool failed = failing_allocations::failure_happened();
            failing_allocations::fail_allocation(-1);
            if (!failed)
            {
                if (waits)
                    running.finish();
                ASSERT_TRUE(enumerator.wait_complete());
                EXPECT_TRUE(enumerator.wait_released());
                EXPECT_TRUE(cache.lookup(L"k").ready);
                break;
            }
            ++failures;
            EXPECT_EQ(enumerator.references, 0);
            EXPECT_EQ(enumerator.completions, 0);
            if (!waits)
            {
                claim = cache.lookup(L"k");
                ASSERT_TRUE(claim.must_search) << "the entry was left running";
            }
        }
        EXPECT_GE(failures, 1);
    }
}
} // namespace
