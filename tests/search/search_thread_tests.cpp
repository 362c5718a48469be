// The search and waiting threads against the registered stand-in: two enumerations of one query share
// one run, a waiter whose entry failed runs the search itself instead of polling for ever, a failing or
// absent search service completes the enumeration empty with its log line, and the threads give back
// their reference on the enumerator.

#include "search/search_thread.h"

#include "standin_client.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>

namespace
{
using namespace std::chrono_literals;
using search_service_test::index_file;
using search_service_test::standin_counters;

// An enumerator as the threads see it; Next's waiting is replaced by an event.
class fake_enumerator final : public search_results_target
{
public:
    fake_enumerator() : completed_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

    void add_reference() noexcept override { ++references; }
    void release_reference() noexcept override { --references; }
    void append_results(const std::vector<search_result_record>& records) override
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

TEST(search_thread, two_enumerations_of_one_query_share_one_run)
{
    index_file index("{" + three_items + "}");
    search_cache cache;
    test_support::log_capture log;
    // The counters live in the stand-in's DLL, which the worker threads' apartment unloads as it ends.
    com_ptr<ISearchManager> keep_loaded;
    ASSERT_EQ(CoCreateInstance(CLSID_CSearchManager, nullptr, CLSCTX_ALL, IID_ISearchManager, keep_loaded.put_void()), S_OK);
    const auto before = standin_counters();
    fake_enumerator first, second;
    ASSERT_TRUE(cache.lookup(L"k").must_search);
    const auto waiting = cache.lookup(L"k");
    ASSERT_FALSE(waiting.ready || waiting.must_search);
    // The waiter starts first and has to poll until the search thread has stored the rows.
    start_wait_thread(second, cache, L"", L"k");
    Sleep(150);
    start_search_thread(first, cache, L"", L"k");
    ASSERT_TRUE(first.wait_complete());
    ASSERT_TRUE(second.wait_complete());
    EXPECT_EQ(first.paths(), three_paths);
    EXPECT_EQ(second.paths(), three_paths);
    EXPECT_EQ(standin_counters().executes - before.executes, 1) << "one index query for both";
    EXPECT_TRUE(first.wait_released());
    EXPECT_TRUE(second.wait_released());
    EXPECT_EQ(first.completions + second.completions, 2);
    EXPECT_TRUE(cache.lookup(L"k").ready) << "the rows serve the next view too";
    EXPECT_EQ(log.messages(), std::vector<std::string>{});
}

// The lookup that answers must-search makes the waiter responsible: nobody else would run that search.
TEST(search_thread, a_waiter_whose_entry_failed_or_was_evicted_runs_the_search_itself)
{
    index_file index("{" + three_items + "}");
    const struct { const char* name; void (*end_the_running_search)(search_cache&); } rows[] = {
        {"failed", [](search_cache& cache) { cache.fail(L"k"); }},
        {"evicted",
         [](search_cache& cache) {
             for (int i = 0; i < 30; ++i)
                 cache.lookup(L"other" + std::to_wstring(i));
         }},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        search_cache cache;
        ASSERT_TRUE(cache.lookup(L"k").must_search); // a search thread that is about to fail
        fake_enumerator waiter;
        start_wait_thread(waiter, cache, L"", L"k");
        Sleep(250);
        EXPECT_EQ(waiter.completions, 0);
        row.end_the_running_search(cache);
        ASSERT_TRUE(waiter.wait_complete());
        EXPECT_EQ(waiter.paths(), three_paths) << "nobody else ran the search";
        EXPECT_TRUE(cache.lookup(L"k").ready) << "its rows serve the next view";
        EXPECT_TRUE(waiter.wait_released());
    }
}

TEST(search_thread, a_failing_service_completes_both_enumerations_empty)
{
    const struct { const char* name; const char* fault; const char* message; } rows[] = {
        {"search service absent", R"("CreateSearchManager": "0x80040154")",
         "ERROR Exception during search: Failed to create ISearchManager instance."},
        {"provider refuses its accessor", R"("CreateAccessor": "0x80040E21")",
         "ERROR Exception during search: Unable to CreateAccessor."},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        index_file index("{" + three_items + R"(, "faults": {)" + r.fault + "}}");
        search_cache cache;
        test_support::log_capture log;
        fake_enumerator searcher, waiter;
        ASSERT_TRUE(cache.lookup(L"k").must_search);
        ASSERT_FALSE(cache.lookup(L"k").must_search);
        start_search_thread(searcher, cache, L"", L"k");
        start_wait_thread(waiter, cache, L"", L"k");
        // The waiter finds the entry failed, searches again, fails again, and stops.
        ASSERT_TRUE(searcher.wait_complete());
        ASSERT_TRUE(waiter.wait_complete());
        EXPECT_TRUE(searcher.paths().empty());
        EXPECT_TRUE(waiter.paths().empty());
        EXPECT_TRUE(searcher.wait_released());
        EXPECT_TRUE(waiter.wait_released());
        EXPECT_EQ(log.messages(), std::vector<std::string>(2, r.message)) << "one from each thread";
        EXPECT_TRUE(cache.lookup(L"k").must_search) << "the failed entry is searched again next time";
    }
}

TEST(search_thread, an_enumerator_that_cannot_take_the_items_still_completes)
{
    index_file index("{" + three_items + "}");
    search_cache cache;
    test_support::log_capture log;
    ASSERT_TRUE(cache.lookup(L"k").must_search);
    fake_enumerator enumerator;
    enumerator.throw_on_append = true;
    start_search_thread(enumerator, cache, L"", L"k");
    ASSERT_TRUE(enumerator.wait_complete());
    EXPECT_TRUE(enumerator.wait_released());
    EXPECT_EQ(enumerator.completions, 1);
    EXPECT_EQ(log.messages(), std::vector<std::string>{"ERROR Search thread: exception: no room for the items"});
    EXPECT_TRUE(cache.lookup(L"k").ready) << "the rows were stored before the enumerator refused them";
}
} // namespace
