// The store's cross-process lock: processes that pin into one group at the same moment write no
// duplicate and lose no pin; a holder that dies or hangs does not stop pinning for good.

#include "store_fixture.h"

#include "base/raii.h"
#include "support/child_process.h"

#include <memory>
#include <set>
#include <sstream>
#include <thread>

using namespace quick_pins_test;

namespace
{
std::wstring event_name(const wchar_t* what)
{
    return L"Local\\velmora-quick-pins-" + std::wstring(what) + L"-" + std::to_wstring(GetCurrentProcessId());
}

std::set<std::wstring> upper_case(const std::vector<std::wstring>& texts)
{
    std::set<std::wstring> result;
    for (std::wstring text : texts)
    {
        CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
        result.insert(text);
    }
    return result;
}

// The child: reads its group and the file listing its paths from the environment, says it is ready,
// waits for the parent's go, and pins.
TEST(quick_pins_lock_child, DISABLED_pins_the_listed_paths)
{
    using test_support::environment_value;
    const unique_handle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, environment_value(L"VELMORA_QP_READY").c_str()));
    const unique_handle go(OpenEventW(SYNCHRONIZE, FALSE, environment_value(L"VELMORA_QP_GO").c_str()));
    ASSERT_TRUE(ready && go);
    std::istringstream text(test_support::read_file(environment_value(L"VELMORA_QP_PATHS")));
    std::vector<std::wstring> paths;
    for (std::string line; std::getline(text, line);)
        paths.push_back(from_utf8(line));
    SetEvent(ready.get());
    ASSERT_EQ(WaitForSingleObject(go.get(), 60'000), WAIT_OBJECT_0);
    EXPECT_TRUE(pin_items(environment_value(L"VELMORA_QP_GROUP"), paths).has_value());
}

TEST(quick_pins_lock_child, DISABLED_dies_holding_the_lock)
{
    // Never released: the process ends without running the destructor, which abandons the mutex.
    new quick_pins_lock;
    TerminateProcess(GetCurrentProcess(), 7);
}

class quick_pins_lock_test : public store_test
{
protected:
    std::unique_ptr<test_support::child_test_process> start_pinning(const std::wstring& list_name,
                                                                    const std::vector<std::wstring>& paths)
    {
        std::string text;
        for (const auto& path : paths)
            text += to_utf8(path) + "\n";
        test_support::write_file(scratch(list_name), text);
        return std::make_unique<test_support::child_test_process>(
            "quick_pins_lock_child.DISABLED_pins_the_listed_paths",
            test_support::child_test_process::environment{{L"VELMORA_QP_GROUP", group()},
                                                          {L"VELMORA_QP_PATHS", scratch(list_name)},
                                                          {L"VELMORA_QP_READY", event_name(L"ready")},
                                                          {L"VELMORA_QP_GO", event_name(L"go")}});
    }

    unique_handle ready_{CreateEventW(nullptr, FALSE, FALSE, event_name(L"ready").c_str())};
    unique_handle go_{CreateEventW(nullptr, TRUE, FALSE, event_name(L"go").c_str())};
};

TEST_F(quick_pins_lock_test, two_processes_pinning_at_once_write_no_duplicate_and_lose_no_pin)
{
    // Two folders with the same 30 file names: the processes compete for the numbered names too. Each
    // also pins half of the other's paths, so that both try to pin those at once.
    std::vector<std::wstring> first, second, all;
    for (int i = 0; i < 30; ++i)
    {
        const std::wstring name = L"f" + std::to_wstring(i) + L".txt";
        first.push_back(scratch(L"a\\" + name));
        second.push_back(scratch(L"b\\" + name));
        for (const auto* paths : {&first, &second})
        {
            make_file(paths->back());
            all.push_back(paths->back());
        }
    }
    for (int i = 0; i < 15; ++i)
    {
        first.push_back(second[i]);
        second.push_back(first[15 + i]);
    }

    test_support::log_capture log;
    const auto one = start_pinning(L"first.txt", first);
    const auto two = start_pinning(L"second.txt", second);
    ASSERT_EQ(WaitForSingleObject(ready_.get(), 60'000), WAIT_OBJECT_0);
    ASSERT_EQ(WaitForSingleObject(ready_.get(), 60'000), WAIT_OBJECT_0);
    SetEvent(go_.get());
    EXPECT_EQ(one->wait(), 0u);
    EXPECT_EQ(two->wait(), 0u);

    std::vector<std::wstring> targets;
    for (const auto& name : folder_contents(group()))
        targets.push_back(read_link_raw_path(group() + L"\\" + name));
    EXPECT_EQ(targets.size(), all.size());
    EXPECT_TRUE(upper_case(targets) == upper_case(all)) << "some paths are pinned twice or not at all";

    // Between them the two counted every pin once.
    std::size_t counted = 0;
    const std::string start = "INFO [quick-pins] Pinned ", end = " item(s) to '" + to_utf8(group()) + "'";
    for (const auto* child : {one.get(), two.get()})
    {
        const auto messages = log.messages_from(child->id());
        ASSERT_EQ(messages.size(), 1u);
        ASSERT_TRUE(messages[0].starts_with(start) && messages[0].ends_with(end)) << messages[0];
        counted += std::stoul(messages[0].substr(start.size(), messages[0].size() - start.size() - end.size()));
    }
    EXPECT_EQ(counted, all.size());
}

TEST_F(quick_pins_lock_test, a_holder_in_this_process_keeps_another_process_waiting)
{
    make_file(scratch(L"a.txt"));
    std::unique_ptr<test_support::child_test_process> child;
    {
        const quick_pins_lock lock;
        SetEvent(go_.get());
        child = start_pinning(L"list.txt", {scratch(L"a.txt")});
        ASSERT_EQ(WaitForSingleObject(ready_.get(), 60'000), WAIT_OBJECT_0);
        EXPECT_EQ(WaitForSingleObject(child->handle(), 1'500), static_cast<DWORD>(WAIT_TIMEOUT));
        EXPECT_FALSE(std::filesystem::exists(group() + L"\\a.txt.lnk"));
    }
    EXPECT_EQ(child->wait(), 0u);
    EXPECT_TRUE(std::filesystem::exists(group() + L"\\a.txt.lnk"));
}

TEST_F(quick_pins_lock_test, an_abandoned_lock_does_not_stop_pinning)
{
    test_support::child_test_process child("quick_pins_lock_child.DISABLED_dies_holding_the_lock");
    ASSERT_EQ(child.wait(), 7u);
    make_file(scratch(L"a.txt"));
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(pin_items(group(), {scratch(L"a.txt")}), std::optional<std::size_t>(1));
    EXPECT_LT(GetTickCount64() - start, 5'000u);
}

TEST_F(quick_pins_lock_test, a_hanging_holder_delays_pinning_by_ten_seconds_at_most)
{
    make_file(scratch(L"a.txt"));
    const quick_pins_lock held_by_this_thread;
    std::optional<std::size_t> pinned;
    ULONGLONG waited = 0;
    std::thread([&] {
        const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        const ULONGLONG start = GetTickCount64();
        pinned = pin_items(group(), {scratch(L"a.txt")});
        waited = GetTickCount64() - start;
        if (SUCCEEDED(com))
            CoUninitialize();
    }).join();
    EXPECT_EQ(pinned, std::optional<std::size_t>(1));
    EXPECT_GE(waited, 9'900u);
    EXPECT_LT(waited, 20'000u);
}
} // namespace
