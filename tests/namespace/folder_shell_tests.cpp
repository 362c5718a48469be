// The main tree through the real shell, with the built DLL registered in the test prefix as the installer
// registers it: the shell parses our parsing names, binds from the desktop and enumerates, loading the
// DLL itself. A saved search runs against the stand-in search service. Several enumerations of one saved
// search at once share one index query, which streams its rows to every view; a view closed while its
// search still runs leaves nothing behind, and the DLL can unload once everything is released.

#include "folder_test_support.h"

#include "search/search_query.h"
#include "standin_client.h"

#include <algorithm>
#include <atomic>
#include <barrier>
#include <set>
#include <thread>

namespace
{
using namespace folder_test;
using search_service_test::index_file;
using search_service_test::json_string;
using search_service_test::standin_counters;

// The DLL as the shell loaded it (not the libraries this executable links).
HRESULT dll_can_unload_now()
{
    HMODULE dll = GetModuleHandleW(L"Sortwell.NamespaceShellExtension.dll");
    if (!dll)
        return S_OK;
    auto can_unload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
    return can_unload ? can_unload() : E_UNEXPECTED;
}

// Worker threads give their references back just after they complete the enumeration.
HRESULT dll_can_unload_within(DWORD milliseconds)
{
    const ULONGLONG until = GetTickCount64() + milliseconds;
    HRESULT hr = dll_can_unload_now();
    while (hr != S_OK && GetTickCount64() < until)
    {
        Sleep(20);
        hr = dll_can_unload_now();
    }
    return hr;
}

// The shell parses our parsing names (their failures: folder_tree_tests; browsing by them:
// explorer_browser_tests).
unique_absolute_id_list parse(const std::wstring& name)
{
    PIDLIST_ABSOLUTE list = nullptr;
    EXPECT_EQ(hex(SHParseDisplayName(name.c_str(), nullptr, &list, 0, nullptr)), hex(S_OK)) << to_utf8(name);
    return unique_absolute_id_list(list);
}

// The folder an absolute list names, bound from the desktop as Explorer binds a location.
com_ptr<IShellFolder> bind_from_desktop(PCIDLIST_ABSOLUTE list)
{
    com_ptr<IShellFolder> desktop, folder;
    EXPECT_EQ(SHGetDesktopFolder(desktop.put()), S_OK);
    EXPECT_EQ(hex(desktop->BindToObject(list, nullptr, IID_IShellFolder, folder.put_void())), hex(S_OK));
    return folder;
}

// The index lists the newest file first; the tests compare the sets.
std::vector<std::wstring> sorted(std::vector<std::wstring> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::wstring> parsing_names(IShellFolder* folder, const std::vector<unique_child_id>& items)
{
    std::vector<std::wstring> names;
    for (const auto& item : items)
        names.push_back(display_name(folder, item.get(), SHGDN_FORPARSING));
    return names;
}

class folder_shell : public folder_fixture
{
protected:
    void SetUp() override
    {
        folder_fixture::SetUp();
        // The counters live in the stand-in's DLL; keep it loaded across the worker threads' apartments.
        ASSERT_EQ(CoCreateInstance(CLSID_CSearchManager, nullptr, CLSCTX_ALL, IID_ISearchManager, keep_loaded_.put_void()),
                  S_OK);
    }
    void TearDown() override
    {
        keep_loaded_.reset();
        EXPECT_EQ(hex(dll_can_unload_within(10'000)), hex(S_OK)) << "an object of the DLL is still alive";
        folder_fixture::TearDown();
    }

    // Real files for the index.
    std::vector<std::wstring> files(int count, const std::wstring& stem)
    {
        std::vector<std::wstring> paths;
        for (int i = 0; i < count; ++i)
        {
            paths.push_back((scratch_.path() / (stem + L" " + std::to_wstring(i) + L".jpg")).wstring());
            test_support::write_file(paths.back(), "x");
        }
        return paths;
    }
    // The index of the files, each rated 50.
    static std::string index_json(const std::vector<std::wstring>& paths)
    {
        std::string items;
        for (const auto& path : paths)
            items += (items.empty() ? "" : ", ") + std::string("{\"path\": ") + json_string(path) + ", \"rating\": 50}";
        return "{\"items\": [" + items + "]}";
    }

    test_support::scratch_folder scratch_{L"folder-shell"};
    com_ptr<ISearchManager> keep_loaded_;
};

// Eight views open one saved search nobody ran yet: one of them runs the query, the others wait for
// its rows, and every view gets every row exactly once.
TEST_F(folder_shell, eight_enumerations_of_one_uncached_search_run_it_once_and_each_gets_every_row_once)
{
    const auto paths = files(40, L"shared");
    index_file index(index_json(paths));
    write_namespace(R"({"folders": [{"name": "Photos", "queries": [
        {"name": "Shared", "query": "System.Rating = 50 AND System.ItemPathDisplay LIKE '%shared%'"}]}]})");
    const auto list = parse(main_root + L"\\Photos\\Shared");
    ASSERT_TRUE(list);
    const auto before = standin_counters();

    constexpr int thread_count = 8;
    std::barrier start(thread_count);
    std::vector<std::vector<std::wstring>> seen(thread_count);
    std::vector<HRESULT> results(thread_count, E_UNEXPECTED);
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t)
        threads.emplace_back([&, t] {
            CoInitializeEx(nullptr, t % 2 ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED);
            {
                com_ptr<IShellFolder> desktop_folder, folder;
                SHGetDesktopFolder(desktop_folder.put());
                desktop_folder->BindToObject(list.get(), nullptr, IID_IShellFolder, folder.put_void());
                start.arrive_and_wait();
                // No assertions here: the test executable's GoogleTest is built without thread support.
                com_ptr<IEnumIDList> enumerator;
                results[t] = folder ? folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, enumerator.put())
                                    : E_NOINTERFACE;
                PITEMID_CHILD item = nullptr;
                while (enumerator && enumerator->Next(1, &item, nullptr) == S_OK)
                {
                    STRRET name{};
                    unique_cotaskmem_string text;
                    if (SUCCEEDED(folder->GetDisplayNameOf(item, SHGDN_FORPARSING, &name)) &&
                        SUCCEEDED(StrRetToStrW(&name, item, text.put())))
                        seen[t].push_back(text.get());
                    ILFree(item);
                }
            }
            CoUninitialize();
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(standin_counters().executes - before.executes, 1);
    for (int t = 0; t < thread_count; ++t)
    {
        SCOPED_TRACE(t);
        EXPECT_EQ(hex(results[t]), hex(S_OK));
        EXPECT_TRUE(sorted(seen[t]) == sorted(paths)) << "every row once: " << seen[t].size() << " rows";
    }
}

// Items and their names, fetched with Next(count), which must answer `expected`.
std::vector<std::wstring> next_names(IShellFolder* folder, IEnumIDList* enumerator, ULONG count, HRESULT expected)
{
    std::vector<PITEMID_CHILD> batch(count);
    ULONG fetched = ~0u;
    EXPECT_EQ(hex(enumerator->Next(count, batch.data(), &fetched)), hex(expected));
    EXPECT_LE(fetched, count);
    std::vector<unique_child_id> items;
    for (ULONG i = 0; i < std::min(fetched, count); ++i)
        items.emplace_back(batch[i]);
    return parsing_names(folder, items);
}

std::vector<std::wstring> joined(std::vector<std::wstring> a, const std::vector<std::wstring>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The index holds back its rows after the tenth until the test opens a gate. Meanwhile Next hands out
// what is there as soon as it is asked for no more than that, and a second view of the running query
// gets the rows found so far; once the gate opens each view gets every row once, in the order and the
// number of a run that nobody streamed, and S_FALSE only at the real end. A third view, let go after its
// first rows, leaves nothing behind (the fixture checks that the DLL can unload).
TEST_F(folder_shell, a_saved_search_streams_its_rows_to_every_view_while_the_query_runs)
{
    const auto paths = files(40, L"streamed");
    const std::wstring gate_name = L"velmora-stream-gate-" + std::to_wstring(GetCurrentProcessId());
    const unique_handle gate(CreateEventW(nullptr, TRUE, FALSE, gate_name.c_str()));
    ASSERT_TRUE(gate);
    auto json = index_json(paths);
    json.insert(json.size() - 1, R"(, "faults": {"GetNextRows": {"after": 10, "gate": )" + json_string(gate_name) + "}}");
    index_file index(json);
    const std::wstring query = L"System.ItemPathDisplay LIKE '%streamed%'";
    write_namespace(R"({"folders": [{"name": "Photos", "queries": [{"name": "Streamed", "query": "System.ItemPathDisplay LIKE '%streamed%'"}]}]})");
    const auto search = bind_from_desktop(parse(main_root + L"\\Photos\\Streamed").get());
    ASSERT_TRUE(search);
    const auto before = standin_counters();

    com_ptr<IEnumIDList> first, second, third;
    const auto started = GetTickCount64();
    ASSERT_EQ(search->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, first.put()), S_OK);
    const auto first_five = next_names(search.get(), first.get(), 5, S_OK);
    const auto next_five = next_names(search.get(), first.get(), 5, S_OK);
    ASSERT_EQ(search->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, second.put()), S_OK);
    const auto so_far = next_names(search.get(), second.get(), 10, S_OK);
    ASSERT_EQ(search->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, third.put()), S_OK);
    EXPECT_EQ(next_names(search.get(), third.get(), 3, S_OK).size(), 3u);
    third.reset();
    EXPECT_LT(GetTickCount64() - started, 20'000u) << "all that while the query waits at its gate";
    EXPECT_EQ(standin_counters().rows_obtained - before.rows_obtained, 10) << "the query has not gone on";

    ASSERT_TRUE(SetEvent(gate.get()));
    const auto first_rest = next_names(search.get(), first.get(), 100, S_FALSE);
    const auto second_rest = next_names(search.get(), second.get(), 100, S_FALSE);
    EXPECT_EQ(standin_counters().executes - before.executes, 1) << "one query for the three views";

    std::vector<std::wstring> unstreamed;
    for (const auto& item : create_result_items(run_search(L"*", query, L"")))
        unstreamed.emplace_back(item_path(own_item_data(item.get())));
    ASSERT_EQ(unstreamed.size(), paths.size());
    EXPECT_EQ(joined(joined(first_five, next_five), first_rest), unstreamed);
    EXPECT_EQ(joined(so_far, second_rest), unstreamed);
    // The rows stay: identifiers are made again from them.
    ASSERT_EQ(first->Reset(), S_OK);
    EXPECT_EQ(next_names(search.get(), first.get(), 2, S_OK), std::vector<std::wstring>(unstreamed.begin(), unstreamed.begin() + 2));
    ASSERT_EQ(first->Skip(37), S_OK);
    EXPECT_EQ(next_names(search.get(), first.get(), 5, S_FALSE), std::vector<std::wstring>{unstreamed.back()});
}

// The user leaves a saved search while its query still runs: the enumerator is released first, the
// search thread finishes later on its own reference.
TEST_F(folder_shell, a_view_closed_while_its_search_runs_leaves_nothing_behind)
{
    index_file index(R"({"generate": {"count": 20000, "folder": "C:\\standin\\closed"}})");
    write_namespace(R"({"folders": [{"name": "Photos", "queries": [{"name": "Many", "query": "System.Size >= 1000"}]}]})");
    const auto before = standin_counters();
    {
        const auto search = bind_from_desktop(parse(main_root + L"\\Photos\\Many").get());
        ASSERT_TRUE(search);
        com_ptr<IEnumIDList> enumerator;
        ASSERT_EQ(search->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, enumerator.put()), S_OK);
    }
    EXPECT_EQ(dll_can_unload_now(), S_FALSE) << "the search thread still holds its enumerator";
    EXPECT_EQ(hex(dll_can_unload_within(30'000)), hex(S_OK));
    const auto after = standin_counters();
    EXPECT_EQ(after.executes - before.executes, 1);
    EXPECT_EQ(after.rows_obtained - before.rows_obtained, after.rows_released - before.rows_released);
    EXPECT_EQ(after.accessors_created - before.accessors_created, after.accessors_released - before.accessors_released);
}
} // namespace
