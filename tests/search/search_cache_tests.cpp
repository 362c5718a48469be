// The search cache with a clock the test moves: the 20-second life of finished results, the states a
// lookup moves an entry through, least-recently-used eviction of the 31st query, a run that its claim
// fails when dropped unfinished, followers of a running search, and the moved-path set.

#include "search/search_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <thread>

namespace
{
using namespace std::chrono_literals;

enum class answer { ready, must_search, neither };

class search_cache_test : public ::testing::Test
{
protected:
    std::shared_ptr<std::atomic<long long>> now_ms = std::make_shared<std::atomic<long long>>(5'000'000);
    search_cache cache{[now = now_ms] { return search_cache::clock::time_point(std::chrono::milliseconds(now->load())); }};

    void advance(std::chrono::milliseconds by) { *now_ms += by.count(); }
    void store(const std::wstring& key, std::initializer_list<const wchar_t*> paths)
    {
        std::vector<search_result_record> records;
        for (const auto* path : paths)
            records.push_back({.path = path});
        cache.store(key, records);
    }
    // The claim of a must-search answer is kept, as a search thread keeps it while it runs.
    answer ask(const std::wstring& key)
    {
        auto found = cache.lookup(key);
        EXPECT_FALSE(found.ready && found.must_search);
        EXPECT_TRUE(found.ready || found.records.empty());
        EXPECT_EQ(static_cast<bool>(found.run), found.must_search);
        EXPECT_EQ(static_cast<bool>(found.running), !found.ready && !found.must_search);
        if (found.must_search)
            claims.push_back(std::move(found.run));
        return found.ready ? answer::ready : found.must_search ? answer::must_search : answer::neither;
    }
    std::vector<search_run> claims;
};

TEST_F(search_cache_test, finished_results_live_20_seconds)
{
    EXPECT_EQ(ask(L"q"), answer::must_search);
    EXPECT_EQ(ask(L"q"), answer::neither) << "a second view waits for the running search";
    store(L"q", {L"C:\\a", L"C:\\b"});
    advance(20s);
    const auto found = cache.lookup(L"q");
    ASSERT_TRUE(found.ready);
    ASSERT_EQ(found.records.size(), 2u);
    EXPECT_EQ(found.records[1].path, L"C:\\b");

    advance(1ms);
    EXPECT_EQ(ask(L"q"), answer::must_search) << "stale after 20 s";
    EXPECT_EQ(ask(L"q"), answer::neither) << "the stale entry is running again, its rows gone";
    store(L"q", {L"C:\\c"});
    EXPECT_EQ(cache.lookup(L"q").records.size(), 1u);
}

TEST_F(search_cache_test, the_31st_query_evicts_the_least_recently_used)
{
    for (int i = 0; i < 30; ++i)
    {
        ASSERT_EQ(ask(L"q" + std::to_wstring(i)), answer::must_search);
        store(L"q" + std::to_wstring(i), {L"C:\\x"});
    }
    // q0 used again: q1 is now the least recently used.
    EXPECT_EQ(ask(L"q0"), answer::ready);
    EXPECT_EQ(ask(L"q30"), answer::must_search);
    EXPECT_EQ(cache.size(), 30u);
    EXPECT_EQ(ask(L"q0"), answer::ready);
    EXPECT_EQ(ask(L"q2"), answer::ready);
    EXPECT_EQ(ask(L"q1"), answer::must_search) << "evicted, so a new entry";
    EXPECT_EQ(ask(L"q3"), answer::must_search) << "making q1 again evicted q3, the least recently used by then";

    // Rows stored for an entry that was evicted meanwhile (q4, by the making of q3) are dropped.
    store(L"q4", {L"C:\\a"});
    EXPECT_EQ(cache.size(), 30u);
    EXPECT_EQ(ask(L"q4"), answer::must_search);
}

// Whatever ends a search thread's work early (an exception, a thread that could not start) drops its
// claim: the entry must not stay running, or every later view of the query would wait on it.
TEST_F(search_cache_test, a_claim_dropped_unfinished_fails_its_run)
{
    {
        auto found = cache.lookup(L"q");
        ASSERT_TRUE(found.must_search);
        found.run.append({.path = L"C:\\a"});
    }
    EXPECT_EQ(ask(L"q"), answer::must_search) << "failed, so searched again";
    EXPECT_FALSE(cache.has_listed_record(L"C:\\a")) << "a failed run's rows are not listed";

    claims.back().append({.path = L"C:\\b"});
    claims.back().finish();
    claims.back() = search_run();
    EXPECT_EQ(ask(L"q"), answer::ready) << "finished before it was dropped";
}

// A second view follows the running search: the rows found so far at once, the rest as they come (a
// batch of them, or what came when its wait ends), and the end of the run; the run reaches it even when
// the cache evicts the entry meanwhile. The rows are listed for the columns while the search runs.
TEST_F(search_cache_test, a_follower_gets_the_rows_so_far_then_the_rest_until_the_run_ends)
{
    auto found = cache.lookup(L"q");
    ASSERT_TRUE(found.must_search);
    auto& run = found.run;
    for (int i = 0; i < 3; ++i)
        run.append({.path = L"C:\\row" + std::to_wstring(i)});
    const auto follower = cache.lookup(L"q");
    ASSERT_TRUE(follower.running);
    EXPECT_TRUE(cache.has_listed_record(L"c:\\ROW2")) << "listed while the search runs";

    auto progress = cache.follow(follower.running, 0, 0ms);
    ASSERT_EQ(progress.records.size(), 3u);
    EXPECT_EQ(progress.records[2].path, L"C:\\row2");
    EXPECT_EQ(progress.state, search_state::running);

    auto start = std::chrono::steady_clock::now();
    progress = cache.follow(follower.running, 3, 150ms);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 140ms) << "nothing new: the whole wait";
    EXPECT_TRUE(progress.records.empty());

    for (int i = 0; i < 30; ++i)
        ask(L"other" + std::to_wstring(i));
    EXPECT_EQ(ask(L"q"), answer::must_search) << "evicted";
    // The wait above left its wake-up at 259 rows. A follower that waits for 515 must still be woken by
    // its own batch, not only by the end of the run, which here waits for that follower.
    const std::size_t second_batch = 3 + search_cache::follow_batch_rows;
    std::promise<void> batch_read;
    std::thread searcher([&, read = batch_read.get_future()] {
        std::this_thread::sleep_for(50ms);
        for (std::size_t i = 3; i < second_batch + search_cache::follow_batch_rows; ++i)
        {
            if (i == second_batch + 10)
                std::this_thread::sleep_for(50ms); // the follower is woken at 259 meanwhile
            run.append({.path = L"C:\\row" + std::to_wstring(i)});
        }
        read.wait_for(10s);
        run.append({.path = L"C:\\last"});
        run.finish();
    });
    start = std::chrono::steady_clock::now();
    progress = cache.follow(follower.running, second_batch, 10s);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << "woken by a full batch";
    batch_read.set_value();
    EXPECT_EQ(progress.records.size(), search_cache::follow_batch_rows);
    progress = cache.follow(follower.running, second_batch + search_cache::follow_batch_rows, 10s);
    searcher.join();
    ASSERT_EQ(progress.records.size(), 1u);
    EXPECT_EQ(progress.records[0].path, L"C:\\last");
    EXPECT_EQ(progress.state, search_state::finished);
}

TEST_F(search_cache_test, moved_paths_are_kept_lower_cased_up_to_32)
{
    cache.add_moved_path(L"C:\\Photos\\Beach.JPG");
    EXPECT_TRUE(cache.is_moved_path(L"c:\\photos\\beach.jpg"));
    EXPECT_TRUE(cache.is_moved_path(L"C:\\PHOTOS\\BEACH.JPG"));
    EXPECT_FALSE(cache.is_moved_path(L"C:\\Photos\\other.jpg"));
    for (int i = 1; i < 32; ++i)
        cache.add_moved_path(L"C:\\f" + std::to_wstring(i));
    EXPECT_TRUE(cache.is_moved_path(L"c:\\photos\\beach.jpg")) << "32 paths fit";
    cache.add_moved_path(L"C:\\f32");
    EXPECT_FALSE(cache.is_moved_path(L"c:\\photos\\beach.jpg")) << "the 33rd empties the set";
    EXPECT_FALSE(cache.is_moved_path(L"c:\\f32"));
    cache.add_moved_path(L"C:\\again");
    EXPECT_TRUE(cache.is_moved_path(L"c:\\again"));
}

TEST_F(search_cache_test, listed_records_are_found_by_path_ignoring_case_and_follow_a_rename)
{
    ASSERT_EQ(ask(L"running"), answer::must_search);
    ASSERT_EQ(ask(L"done"), answer::must_search);
    std::vector<search_result_record> rows;
    for (int i = 0; i < 2000; ++i)
        rows.push_back({.path = L"C:\\Photos\\IMG_" + std::to_wstring(i) + L".JPG", .rating = static_cast<std::uint32_t>(i)});
    rows.push_back({.path = L"C:\\Photos\\IMG_7.JPG", .rating = 99999}); // a second row of the same file
    cache.store(L"done", rows);

    const auto rating_of = [&](const wchar_t* path) {
        std::uint32_t rating = 0;
        return cache.visit_listed_record(path, [&](const search_result_record& r) { rating = r.rating; }) ? rating
                                                                                                           : ~0u;
    };
    EXPECT_EQ(rating_of(L"c:\\photos\\img_1999.jpg"), 1999u);
    EXPECT_EQ(rating_of(L"C:\\PHOTOS\\IMG_7.JPG"), 7u) << "the first row of the file";
    EXPECT_EQ(rating_of(L"C:\\Photos\\IMG_2000.JPG"), ~0u);
    EXPECT_EQ(rating_of(L"C:\\Photos\\IMG_7.JP"), ~0u);

    EXPECT_EQ(cache.rename_result_path(L"c:\\photos\\img_7.jpg", L"C:\\Photos\\Beach.jpg"), 2u);
    EXPECT_EQ(rating_of(L"C:\\Photos\\IMG_7.JPG"), ~0u);
    EXPECT_EQ(rating_of(L"c:\\photos\\beach.JPG"), 7u);
    EXPECT_TRUE(cache.is_moved_path(L"C:\\Photos\\IMG_7.JPG"));
    EXPECT_EQ(cache.lookup(L"done").records[2000].path, L"C:\\Photos\\Beach.jpg");
    EXPECT_EQ(rating_of(L"c:\\photos\\img_8.jpg"), 8u) << "the other rows keep their place in the index";

    EXPECT_EQ(cache.rename_result_path(L"C:\\nowhere.txt", L"C:\\x.txt"), 0u);
    EXPECT_TRUE(cache.is_moved_path(L"c:\\nowhere.txt")) << "a rename is remembered even when no row lists it";
}
} // namespace
