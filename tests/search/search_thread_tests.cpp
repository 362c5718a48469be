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

TEST(search_thread, stores_the_rows_and_hands_them_to_the_enumerator)
{
    index_file index("{" + three_items + "}");
    search_cache cache;
    test_support::log_capture log;
    ASSERT_TRUE(cache.lookup(L"k").must_search);
    fake_enumerator enumerator;
    // On this apartment-threaded thread CoInitializeEx answers RPC_E_CHANGED_MODE, which is not logged.
    search_thread(enumerator, cache, L"", L"k");
    EXPECT_EQ(enumerator.paths(), three_paths);
    EXPECT_EQ(enumerator.completions, 1);
    const auto cached = cache.lookup(L"k");
    ASSERT_TRUE(cached.ready);
    EXPECT_EQ(cached.records.size(), 3u);
    EXPECT_EQ(log.messages(), std::vector<std::string>{});
}

TEST(search_thread, two_enumerations_of_one_query_share_one_run)
{
    index_file index("{" + three_items + "}");
    search_cache cache;
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
}

TEST(search_thread, a_waiter_whose_entry_failed_runs_the_search_itself)
{
    index_file index("{" + three_items + "}");
    search_cache cache;
    const auto before = standin_counters();
    ASSERT_TRUE(cache.lookup(L"k").must_search);  // a search thread that is about to fail
    fake_enumerator waiter;
    start_wait_thread(waiter, cache, L"", L"k");
    Sleep(250);
    EXPECT_EQ(waiter.completions, 0);
    cache.fail(L"k");
    ASSERT_TRUE(waiter.wait_complete());
    EXPECT_EQ(waiter.paths(), three_paths);
    EXPECT_EQ(standin_counters().executes - before.executes, 1);
    EXPECT_TRUE(cache.lookup(L"k").ready) << "its rows serve the next view";
    EXPECT_TRUE(waiter.wait_released());
}

TEST(search_thread, a_waiter_whose_entry_was_evicted_runs_the_search_itself)
{
    index_file index("{" + three_items + "}");
    search_cache cache;
    ASSERT_TRUE(cache.lookup(L"k").must_search);
    fake_enumerator waiter;
    start_wait_thread(waiter, cache, L"", L"k");
    Sleep(150);
    for (int i = 0; i < 30; ++i)
        cache.lookup(L"other" + std::to_wstring(i));
    ASSERT_TRUE(waiter.wait_complete());
    EXPECT_EQ(waiter.paths(), three_paths);
    EXPECT_TRUE(waiter.wait_released());
}

TEST(search_thread, a_failing_service_completes_both_enumerations_empty)
{
    struct row
    {
        const char* name;
        const char* fault;
        const char* message;
    };
    const std::vector<row> rows = {
        {"search service absent", R"("CreateSearchManager": "0x80040154")",
         "ERROR Exception during search: Failed to create ISearchManager instance."},
        {"catalog refused", R"("GetCatalog": "0x80040D1A")", "ERROR Exception during search: Failed to get SystemIndex catalog."},
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
        std::size_t lines = 0;
        for (const auto& message : log.messages())
        {
            EXPECT_EQ(message, r.message);
            lines += message == r.message;
        }
        EXPECT_EQ(lines, 2u) << "one from each thread";
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
