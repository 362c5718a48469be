// A working day in one process, as Explorer lives with the DLL (the README lists what a round does). The
// namespace configuration changes every tenth of the run. Between round 100 and the last round the
// private bytes may grow by 2 MiB over 9,900 rounds (the same rate for a shorter run) and the handle count
// not at all; at the end DllCanUnloadNow answers S_OK.
// VELMORA_SOAK_ROUNDS sets the number of rounds (default 400; scripts/soak.sh runs 10,000).

#include "module/dll_test_support.h"
#include "namespace/folder_test_support.h"
#include "quick_pins/store_fixture.h"
#include "search_service/standin_client.h"

#include "base/raii.h"
#include "items/search_and_action_item_data.h"
#include "search/search_api.h"

#include <psapi.h>
#include <winternl.h>
#include <propkey.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace
{
using module_test::hex;
namespace fs = std::filesystem;

constexpr CLSID sortwell = module_test::sortwell_clsid;
constexpr CLSID quick_pins = module_test::quick_pins_clsid;
constexpr int result_files = 12;

struct usage
{
    SIZE_T private_bytes = 0;
    DWORD handles = 0;
};

// The handles of this process in the system's handle table.
DWORD handles_in_system_table()
{
    struct entry
    {
        ULONG process_id;
        BYTE object_type, flags;
        USHORT handle;
        void* object;
        ACCESS_MASK access;
    };
    struct table
    {
        ULONG count;
        entry entries[1];
    };
    constexpr ULONG system_handle_information = 16;
    constexpr NTSTATUS length_mismatch = static_cast<NTSTATUS>(0xC0000004);
    std::vector<BYTE> buffer(1 << 20);
    ULONG needed = 0;
    NTSTATUS status;
    while ((status = NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(system_handle_information),
                                              buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) ==
           length_mismatch)
        buffer.resize(buffer.size() * 2);
    if (status != 0)
        return 0;
    const auto* handles = reinterpret_cast<const table*>(buffer.data());
    DWORD mine = 0;
    for (ULONG i = 0; i < handles->count; ++i)
        mine += handles->entries[i].process_id == GetCurrentProcessId() ? 1 : 0;
    return mine;
}

// Wine 8 answers GetProcessHandleCount with 0 and leaves PrivateUsage at 0; its PagefileUsage is the
// process's private commit, which Windows reports in both.
usage process_usage()
{
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters));
    usage now;
    now.private_bytes = counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
    if (!GetProcessHandleCount(GetCurrentProcess(), &now.handles) || now.handles == 0)
        now.handles = handles_in_system_table();
    return now;
}

// A menu as the view builds it for a right-click, then thrown away.
bool build_menu(IShellFolder* folder, PCUITEMID_CHILD item)
{
    com_ptr<IContextMenu> menu;
    if (FAILED(folder->GetUIObjectOf(nullptr, 1, &item, IID_IContextMenu, nullptr, menu.put_void())))
        return false;
    HMENU popup = CreatePopupMenu();
    const HRESULT hr = menu->QueryContextMenu(popup, 0, 1, 0x7FFF, CMF_NORMAL);
    const bool filled = SUCCEEDED(hr) && GetMenuItemCount(popup) > 0;
    DestroyMenu(popup);
    return filled;
}

// The row's columns as the details view asks them, and its icon extracted as the view draws it.
bool ask_row(IShellFolder2* folder, PCUITEMID_CHILD item)
{
    for (UINT column = 0; column < 5; ++column)
    {
        SHELLDETAILS details{};
        if (SUCCEEDED(folder->GetDetailsOf(item, column, &details)) && details.str.uType == STRRET_WSTR)
            CoTaskMemFree(details.str.pOleStr);
    }
    VARIANT keywords;
    VariantInit(&keywords);
    const bool ok = SUCCEEDED(folder->GetDetailsEx(item, &PKEY_Keywords, &keywords));
    VariantClear(&keywords);

    com_ptr<IExtractIconW> icon;
    if (FAILED(folder->GetUIObjectOf(nullptr, 1, &item, IID_IExtractIconW, nullptr, icon.put_void())))
        return false;
    wchar_t location[MAX_PATH] = {};
    int index = 0;
    UINT flags = 0;
    if (FAILED(icon->GetIconLocation(GIL_FORSHELL, location, MAX_PATH, &index, &flags)))
        return false;
    HICON large = nullptr, small = nullptr;
    if (icon->Extract(location, index, &large, &small, MAKELONG(32, 16)) == S_OK)
    {
        if (large)
            DestroyIcon(large);
        if (small)
            DestroyIcon(small);
    }
    return ok;
}

class soak : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (int i = 0; i < result_files; ++i)
        {
            files_.push_back((scratch_.path() / L"files" / (L"photo " + std::to_wstring(i) + L".jpg")).wstring());
            test_support::write_file(files_.back(), "x");
        }
        fs::create_directories(scratch_.path() / L"group");
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(write_shortcut((scratch_.path() / L"group" / (std::to_wstring(i + 1) + L". pin.lnk")).wstring(),
                                       files_[i]));
        quick_pins_test::remove_tree(quick_pins_test::published_folder());
        quick_pins_test::publish_groups({{u"Work", quick_pins_test::u16((scratch_.path() / L"group").wstring())},
                                         {u"Photos", quick_pins_test::u16((scratch_.path() / L"files").wstring())}});
        std::string items;
        for (const auto& path : files_)
            items += (items.empty() ? "" : ", ") + std::string("{\"path\": ") + search_service_test::json_string(path) +
                     ", \"rating\": 75, \"keywords\": [\"Work\", \"Travel\"]}";
        index_.emplace("{\"items\": [" + items + "]}");
        module_test::write_suite_settings(module_test::suite_settings_json(true, true));
        write_namespace(false);
        ASSERT_TRUE(dll_) << "cannot load " << module_test::dll_path().string();
        // Held here, the search stand-in stays loaded: unloaded by COM before a search thread ends, it
        // would lose that thread's records of mingw's static threading library, two handles a search.
        ASSERT_EQ(CoCreateInstance(CLSID_CSearchManager, nullptr, CLSCTX_ALL, IID_ISearchManager,
                                   keep_standin_loaded_.put_void()),
                  S_OK);
    }
    void TearDown() override
    {
        keep_standin_loaded_.reset();
        quick_pins_test::remove_tree(quick_pins_test::published_folder());
        std::error_code ec;
        for (const auto* name : {L"Namespace.json", L"All Tags.json", L"All People.json", L"High Level Settings.json"})
            fs::remove(test_support::settings_folder() / name, ec);
    }

    // The organised folder "Ratings" with one saved search, and a second one when `extra`.
    void write_namespace(bool extra)
    {
        static int generation = 0;
        const std::string second = extra ? R"(, {"name": "Extra", "query": "System.Rating >= 1"})" : "";
        const auto file = test_support::settings_folder() / L"Namespace.json";
        test_support::write_file(file, R"({"version": "1.0", "folders": [{"name": "Ratings", "queries": [
            {"name": "★★★★", "icon": "Content\\Icons\\Rating 4.ico", "query": "System.Rating >= 63 AND System.Rating <= 87",
             "action_type": "set_rating", "action_parameters": "4"})" + second + "]}]}");
        test_support::touch_file(file, ++generation);
    }

    com_ptr<IShellFolder2> open_root(const CLSID& clsid)
    {
        com_ptr<IClassFactory> factory;
        com_ptr<IShellFolder2> root;
        com_ptr<IPersistFolder> persist;
        if (FAILED(dll_.get_class_object(clsid, IID_IClassFactory, factory.put_void())) ||
            FAILED(factory->CreateInstance(nullptr, IID_IShellFolder2, root.put_void())) ||
            FAILED(root->QueryInterface(IID_IPersistFolder, persist.put_void())))
            return {};
        const auto list = folder_test::root_id_list(clsid);
        return SUCCEEDED(persist->Initialize(list.get())) ? root : com_ptr<IShellFolder2>();
    }

    // Everything of a round released: the worker threads have given their references back, and a thread
    // that was ending has ended (its handle goes with it). Answers the usage then.
    usage quiet_usage()
    {
        for (int i = 0; i < 500 && dll_.can_unload_now() != S_OK; ++i)
            Sleep(20);
        usage before = process_usage();
        for (int i = 0; i < 50; ++i)
        {
            Sleep(100);
            const usage now = process_usage();
            if (now.handles == before.handles)
                return now;
            before = now;
        }
        return before;
    }

    // One round; answers what went wrong, or nothing.
    std::string round(bool extra)
    {
        const auto root = open_root(sortwell);
        if (!root)
            return "the Sortwell root did not open";
        const auto ratings = folder_test::bind(root.get(), L"Ratings");
        if (!ratings)
            return "no organised folder";
        const auto searches = folder_test::enumerate(ratings.get());
        if (searches.size() != (extra ? 2u : 1u))
            return fmt::format("the organised folder lists {} searches", searches.size());
        const auto* search_item = folder_test::find_item(ratings.get(), searches, L"★★★★");
        com_ptr<IShellFolder2> search;
        if (search_item)
            ratings->BindToObject(search_item, nullptr, IID_IShellFolder2, search.put_void());
        if (!search)
            return "the saved search did not open";
        const auto rows = folder_test::enumerate(search.get());
        if (rows.size() != files_.size())
            return fmt::format("the saved search lists {} rows", rows.size());
        for (const auto& row : rows)
            if (!ask_row(search.get(), row.get()))
                return "a row's details or icon failed";
        if (!build_menu(search.get(), rows.front().get()))
            return "the result's menu failed";
        if (!build_menu(ratings.get(), search_item))
            return "the folder-item menu failed";

        const auto pins_root = open_root(quick_pins);
        if (!pins_root)
            return "the Quick pins root did not open";
        const auto group = folder_test::bind(pins_root.get(), L"Work");
        if (!group)
            return "no pin group";
        const auto pins = folder_test::enumerate(group.get());
        if (pins.size() != 3)
            return fmt::format("the pin group lists {} pins", pins.size());
        return {};
    }

    test_support::scratch_folder scratch_{L"soak"};
    std::vector<std::wstring> files_;
    std::optional<search_service_test::index_file> index_;
    module_test::loaded_dll dll_;
    com_ptr<IUnknown> keep_standin_loaded_;
};

int rounds_to_run()
{
    const auto text = test_support::environment_value(L"VELMORA_SOAK_ROUNDS");
    const int rounds = text.empty() ? 400 : std::stoi(text);
    return rounds < 200 ? 200 : rounds;
}

TEST_F(soak, a_working_day_leaks_neither_memory_nor_handles)
{
    const int rounds = rounds_to_run();
    const int change_every = rounds / 10;
    const auto started = std::chrono::steady_clock::now();
    usage at_100{};
    bool extra = false;
    int failures = 0;
    for (int number = 1; number <= rounds && failures < 3; ++number)
    {
        if (number % change_every == 0)
            write_namespace(extra = !extra);
        const auto problem = round(extra);
        if (!problem.empty())
        {
            ++failures;
            ADD_FAILURE() << "round " << number << ": " << problem;
        }
        if (number == 100)
            at_100 = quiet_usage();
    }
    const usage at_end = quiet_usage();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    const double allowed = 2.0 * 1024 * 1024 * (rounds - 100) / 9900.0;
    const double grown = static_cast<double>(at_end.private_bytes) - static_cast<double>(at_100.private_bytes);
    std::printf("%d rounds in %.0f s (%.1f ms a round); after round 100: %.2f MiB private, %lu handles; after round %d: "
                "%.2f MiB private (%+.0f KiB, allowed %.0f KiB), %lu handles\n",
                rounds, seconds, 1000.0 * seconds / rounds, at_100.private_bytes / 1048576.0, at_100.handles, rounds,
                at_end.private_bytes / 1048576.0, grown / 1024, allowed / 1024, at_end.handles);
    search_standin_counters counters{};
    if (const auto get = reinterpret_cast<search_standin_get_counters_function>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(search_standin_dll_name), "search_standin_get_counters"))))
        get(&counters);
    std::printf("the saved search ran its query %ld times in %d rounds; the other rounds took it from the cache\n",
                counters.executes, rounds);
    EXPECT_LT(grown, allowed) << "private bytes grew";
    EXPECT_EQ(at_end.handles, at_100.handles) << "handles leaked";

    HRESULT unload = dll_.can_unload_now();
    for (int i = 0; i < 500 && unload != S_OK; ++i, Sleep(20))
        unload = dll_.can_unload_now();
    EXPECT_EQ(hex(unload), hex(S_OK)) << "an object of the DLL is still alive";
}
} // namespace
