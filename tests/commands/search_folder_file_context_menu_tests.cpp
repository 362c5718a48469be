// The folder-item context menu: its three commands, the menu and command strings the shell reads, and
// the desktop shortcut (file name, numbering, never overwriting, and a shortcut that opens the folder).
// The desktop is redirected to a scratch folder for every test: the prefix's own Desktop is a link to
// the Unix home.

#include "commands/search_folder_file_context_menu.h"

#include "commands_test_support.h"
#include "support/shell_observers.h"
#include "icons/icon_handler.h"
#include "base/namespace_module.h"
#include "items/search_and_action_item_data.h"
#include "namespace/search_and_action_shell_folder.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <cstring>
#include <set>
#include <thread>

namespace
{
using test_support::read_file;
using test_support::write_file;

// Points the user's Desktop at a scratch folder for its lifetime (the shell reads "User Shell Folders"),
// then back at the prefix's own, also after a run that was killed mid-test left its redirection behind.
class private_desktop
{
public:
    private_desktop() { set(folder_.path().wstring()); }
    ~private_desktop() { set(L"%USERPROFILE%\\Desktop"); }
    const std::filesystem::path& path() const { return folder_.path(); }
    // The .lnk files on the desktop.
    std::set<std::wstring> shortcuts() const
    {
        std::set<std::wstring> names;
        for (const auto& entry : std::filesystem::directory_iterator(path()))
            if (entry.path().extension() == L".lnk")
                names.insert(entry.path().filename().wstring());
        return names;
    }

private:
    static void set(const std::wstring& value)
    {
        RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                        L"Desktop", REG_EXPAND_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    test_support::scratch_folder folder_{L"desktop"};
};

// The "Sortwell" root as the shell parses its name (through the registered DLL), and a folder initialised there.
com_ptr<search_and_action_shell_folder> registered_root(unique_absolute_id_list& root)
{
    com_ptr<search_and_action_shell_folder> folder;
    EXPECT_EQ(SHParseDisplayName(main_root_parsing_name, nullptr, root.put(), 0, nullptr), S_OK);
    EXPECT_EQ(search_and_action_shell_folder::create_folder(false, folder.put()), S_OK);
    if (root && folder)
    {
        EXPECT_EQ(folder->Initialize(root.get()), S_OK);
    }
    return folder;
}

unique_child_id search_item(const std::wstring& name, const std::wstring& icon = L"Content\\Icons\\Tags.ico")
{
    return create_search_item({.name = L"Reports"}, {.name = name, .icon = icon, .query = L"kind:doc"}, {}, {});
}

com_ptr<IContextMenu> menu_for(search_and_action_shell_folder* folder, const unique_child_id& item)
{
    com_ptr<IContextMenu> menu;
    EXPECT_EQ(create_search_folder_file_context_menu(folder, item.get(), IID_IContextMenu, menu.put_void()), S_OK);
    return menu;
}

HRESULT invoke(IContextMenu* menu, const char* verb)
{
    CMINVOKECOMMANDINFO info{};
    info.cbSize = sizeof(info);
    info.lpVerb = verb;
    info.nShow = SW_SHOWNORMAL;
    return menu->InvokeCommand(&info);
}
HRESULT invoke(IContextMenu* menu, UINT offset)
{
    return invoke(menu, MAKEINTRESOURCEA(offset));
}

// The ID list a shortcut file holds, read from the file itself: a 76-byte header whose flags (offset 20)
// say whether a target list follows, then the list's size and the list. Wine's shell link drops a loaded
// list that holds item types it does not know (ours among them), so IShellLinkW::GetIDList cannot be
// asked here; Windows' shell link hands the list back as it was saved.
unique_absolute_id_list shortcut_target(const std::filesystem::path& file)
{
    const std::string bytes = read_file(file);
    unique_absolute_id_list list;
    if (bytes.size() < 78 || bytes[0] != 0x4C || !(static_cast<unsigned char>(bytes[20]) & 1))
        return list;
    const std::size_t size = static_cast<unsigned char>(bytes[76]) | static_cast<unsigned char>(bytes[77]) << 8;
    if (size < 2 || 78 + size > bytes.size())
        return list;
    list.reset(static_cast<ITEMIDLIST_ABSOLUTE*>(CoTaskMemAlloc(size)));
    std::memcpy(list.get(), bytes.data() + 78, size);
    return list;
}

// The icon location a shortcut file names.
std::wstring shortcut_icon(const std::filesystem::path& file)
{
    com_ptr<IShellLinkW> link;
    EXPECT_EQ(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void()), S_OK);
    wchar_t location[MAX_PATH] = {};
    int index = -1;
    if (link && SUCCEEDED(link.try_query<IPersistFile>()->Load(file.c_str(), STGM_READ)))
        link->GetIconLocation(location, MAX_PATH, &index);
    return location;
}

bool same_id_list(PCIDLIST_ABSOLUTE a, PCIDLIST_ABSOLUTE b)
{
    return a && b && ILGetSize(a) == ILGetSize(b) && std::memcmp(a, b, ILGetSize(a)) == 0;
}

// The explorer.exe processes this process started ("explore" starts a real one under Wine). The
// desktop's own explorer.exe may be one of them: it runs before and is never ended, or the shell's
// automation objects of later tests would be gone.
std::set<DWORD> started_explorers()
{
    std::set<DWORD> found;
    const unique_hfile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
        if (entry.th32ParentProcessID == GetCurrentProcessId() && _wcsicmp(entry.szExeFile, L"explorer.exe") == 0)
            found.insert(entry.th32ProcessID);
    return found;
}

std::vector<std::string> errors(const test_support::log_capture& log)
{
    return log.messages_from(GetCurrentProcessId());
}

// The registered DLL, which the shell loads for our lists, seeds a missing suite settings file and logs
// it (other test executables of the prefix remove the file): it is there before the log is watched.
bool suite_settings_present()
{
    std::error_code ec;
    std::filesystem::create_directories(test_support::settings_folder(), ec);
    std::filesystem::copy_file(test_support::executable_folder() / L"Content\\Configurations\\High Level Settings.json",
                               test_support::settings_folder() / L"High Level Settings.json",
                               std::filesystem::copy_options::skip_existing, ec);
    return !ec;
}

class folder_item_menu : public ::testing::Test
{
protected:
    bool settings_present = suite_settings_present();
    private_desktop desktop;
    test_support::log_capture log;
    LONG module_locks = the_module().lock_count();
    void TearDown() override { EXPECT_EQ(the_module().lock_count(), module_locks); }
};

TEST_F(folder_item_menu, query_context_menu_inserts_open_as_default_and_the_rest_unless_default_only)
{
    const auto item = search_item(L"Q1");
    const struct { UINT flags; HRESULT result; std::vector<std::wstring> texts; } rows[] = {
        {CMF_NORMAL, MAKE_HRESULT(SEVERITY_SUCCESS, 0, 3), {L"Before", L"Open", L"Create s&hortcut", L"Customize Sortwell", L"After"}},
        {CMF_DEFAULTONLY, MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1), {L"Before", L"Open", L"After"}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.flags);
        const auto menu = menu_for(nullptr, item);
        HMENU popup = CreatePopupMenu();
        AppendMenuW(popup, MF_STRING, 1, L"Before");
        AppendMenuW(popup, MF_STRING, 2, L"After");
        // The last id is not consulted: a range too small for three commands still gets them.
        EXPECT_EQ(menu->QueryContextMenu(popup, 1, 100, 100, row.flags), row.result);
        std::vector<std::wstring> texts;
        for (int i = 0; i < GetMenuItemCount(popup); ++i)
        {
            wchar_t text[64] = {};
            GetMenuStringW(popup, i, text, 64, MF_BYPOSITION);
            texts.push_back(text);
            if (i >= 1 && i + 1 < GetMenuItemCount(popup))
            {
                EXPECT_EQ(GetMenuItemID(popup, i), static_cast<UINT>(100 + i - 1));
            }
        }
        EXPECT_EQ(texts, row.texts);
        EXPECT_EQ(GetMenuDefaultItem(popup, FALSE, 0), 100u);
        DestroyMenu(popup);
    }
}

TEST_F(folder_item_menu, get_command_string_answers_verbs_and_help_texts_within_the_buffer)
{
    const auto menu = menu_for(nullptr, search_item(L"Q1"));
    const struct { UINT_PTR offset; UINT type; UINT size; HRESULT result; std::string text; } rows[] = {
        {0, GCS_VERBA, 64, S_OK, "open"}, {1, GCS_VERBW, 64, S_OK, "link"},
        {2, GCS_VERBA, 64, S_OK, "VLM.CustomizeSortwell"}, {2, GCS_VERBW, 64, S_OK, "VLM.CustomizeSortwell"},
        {0, GCS_HELPTEXTA, 64, S_OK, "Opens the selected item"},
        {1, GCS_HELPTEXTW, 64, S_OK, "Creates a shortcut to this item on the desktop"},
        {1, GCS_HELPTEXTW, 10, S_OK, "Creates a"}, {2, GCS_HELPTEXTA, 5, S_OK, "Open"}, {2, GCS_HELPTEXTW, 1, S_OK, ""},
        {0, GCS_VALIDATEA, 64, E_FAIL, "untouched"}, {0, GCS_VALIDATEW, 64, E_FAIL, "untouched"},
        {0, 3, 64, E_FAIL, "untouched"}, {0, GCS_VERBICONW, 64, E_FAIL, "untouched"},
        {3, GCS_VERBW, 64, E_FAIL, "untouched"}, {0x10000, GCS_VERBA, 64, E_FAIL, "untouched"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(testing::Message() << row.offset << " type " << row.type << " size " << row.size);
        wchar_t wide[64];
        std::wcscpy(wide, L"untouched");
        char narrow[64];
        std::strcpy(narrow, "untouched");
        const bool unicode = (row.type & GCS_UNICODE) != 0;
        EXPECT_EQ(menu->GetCommandString(row.offset, row.type, nullptr,
                                         unicode ? reinterpret_cast<char*>(wide) : narrow, row.size),
                  row.result);
        EXPECT_EQ(to_utf8(wide), unicode || row.result != S_OK ? row.text : "untouched");
        EXPECT_EQ(std::string(narrow), !unicode && row.result == S_OK ? row.text : "untouched");
    }
}

TEST_F(folder_item_menu, invoke_command_takes_offsets_only_and_needs_the_folders_list)
{
    const auto item = search_item(L"Q1");
    const auto without_folder = menu_for(nullptr, item);
    for (const char* verb : {"open", "link", "VLM.CustomizeSortwell"})
        EXPECT_EQ(invoke(without_folder.get(), verb), E_FAIL) << verb;
    EXPECT_EQ(invoke(without_folder.get(), 3u), E_FAIL);
    EXPECT_EQ(without_folder->InvokeCommand(nullptr), E_INVALIDARG);
    EXPECT_EQ(errors(log), std::vector<std::string>{});

    // A folder that Explorer has not initialised yet has no list either.
    search_and_action_shell_folder* raw = nullptr;
    ASSERT_EQ(search_and_action_shell_folder::create_folder(false, &raw), S_OK);
    const auto uninitialised = com_ptr<search_and_action_shell_folder>::attach(raw);
    for (auto* folder : {static_cast<search_and_action_shell_folder*>(nullptr), uninitialised.get()})
    {
        const auto menu = menu_for(folder, item);
        EXPECT_EQ(invoke(menu.get(), 0u), E_FAIL);
        EXPECT_EQ(invoke(menu.get(), 1u), E_FAIL);
    }
    const std::string open_error = "ERROR InvokeCommand: Unable to determine full pidl";
    const std::string shortcut_error = "ERROR do_create_shortcut: Unable to determine full pidl";
    EXPECT_EQ(errors(log), (std::vector<std::string>{open_error, shortcut_error, open_error, shortcut_error}));
    EXPECT_TRUE(desktop.shortcuts().empty());

    const unsigned char foreign[] = {4, 0, 2, 0, 0, 0};
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(create_search_folder_file_context_menu(nullptr, reinterpret_cast<PCUITEMID_CHILD>(foreign), IID_IContextMenu, &out),
              E_INVALIDARG);
    EXPECT_EQ(out, nullptr);
}

// Needs the registered DLL. The shortcut's list, bound from the desktop as the shell binds a shortcut
// that is opened, reaches a folder of this DLL standing at the same place.
TEST_F(folder_item_menu, create_shortcut_writes_a_link_that_opens_the_virtual_folder_and_has_its_icon)
{
    unique_absolute_id_list root;
    const auto folder = registered_root(root);
    ASSERT_TRUE(root && folder);
    const auto item = search_item(L"Report: Q1/Q2");
    ASSERT_EQ(invoke(menu_for(folder.get(), item).get(), 1u), S_OK);
    EXPECT_EQ(desktop.shortcuts(), (std::set<std::wstring>{L"Report- Q1-Q2.lnk"}));
    EXPECT_EQ(shortcut_icon(desktop.path() / L"Report- Q1-Q2.lnk"), resolve_icon_path(L"Content\\Icons\\Tags.ico"));
    EXPECT_EQ(errors(log), std::vector<std::string>{});

    const auto target = shortcut_target(desktop.path() / L"Report- Q1-Q2.lnk");
    const unique_absolute_id_list expected(ILCombine(root.get(), item.get()));
    ASSERT_TRUE(same_id_list(target.get(), expected.get()));
    com_ptr<IShellFolder> opened;
    ASSERT_EQ(SHBindToObject(nullptr, target.get(), nullptr, IID_IShellFolder, opened.put_void()), S_OK);
    CLSID clsid{};
    EXPECT_EQ(opened.try_query<IPersistFolder2>()->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_search_and_action_shell_folder));
    unique_absolute_id_list place;
    EXPECT_EQ(opened.try_query<IPersistFolder2>()->GetCurFolder(place.put()), S_OK);
    EXPECT_TRUE(same_id_list(place.get(), target.get()));
    unique_cotaskmem_string name;
    EXPECT_EQ(SHGetNameFromIDList(target.get(), SIGDN_NORMALDISPLAY, name.put()), S_OK);
    EXPECT_STREQ(name.get(), L"Report: Q1/Q2");

    // The second shortcut to the same search is numbered; a missing icon only leaves it without one.
    const auto no_icon = menu_for(folder.get(), search_item(L"Report: Q1/Q2", L"Content\\Icons\\Gone.ico"));
    ASSERT_EQ(invoke(no_icon.get(), 1u), S_OK);
    EXPECT_EQ(desktop.shortcuts(), (std::set<std::wstring>{L"Report- Q1-Q2.lnk", L"Report- Q1-Q2 (2).lnk"}));
    EXPECT_EQ(shortcut_icon(desktop.path() / L"Report- Q1-Q2 (2).lnk"), L"");
}

// Needs the registered DLL: the shell binds the list to the root to find what to start.
TEST_F(folder_item_menu, open_explores_the_virtual_folder)
{
    unique_absolute_id_list root;
    const auto folder = registered_root(root);
    ASSERT_TRUE(folder);
    const auto item = search_item(L"Q1");
    GetDesktopWindow();
    const auto before = started_explorers();
    // ShellExecuteExW reports a failure in a message box, which would otherwise wait for a click forever.
    test_support::dialog_closer dialogs;
    HRESULT result = E_PENDING;
    std::thread([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        result = invoke(menu_for(folder.get(), item).get(), 0u);
        CoUninitialize();
    }).join();
    EXPECT_FALSE(dialogs.stop());
    EXPECT_EQ(result, S_OK);
    std::vector<DWORD> explorers;
    for (const DWORD deadline = GetTickCount() + 10000; explorers.empty() && GetTickCount() < deadline; Sleep(50))
        std::ranges::set_difference(started_explorers(), before, std::back_inserter(explorers));
    EXPECT_FALSE(explorers.empty());
    for (const DWORD id : explorers)
    {
        const unique_handle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
        if (process && TerminateProcess(process.get(), 0))
            WaitForSingleObject(process.get(), 5000);
    }
    EXPECT_EQ(errors(log), std::vector<std::string>{});
}

TEST_F(folder_item_menu, shortcut_file_names_are_cleaned_for_the_file_system)
{
    const struct { std::wstring display_name; std::wstring file_name; } rows[] = {
        {L"Report: Q1/Q2", L"Report- Q1-Q2"}, {L"a\\b*c?d\"e<f>g|h", L"a-b-c-d-e-f-g-h"}, {L"tab\there\x1f", L"tab-here-"},
        {L". . .", L"Sortwell item"}, {L"", L"Sortwell item"}, {L"Trailing. .", L"Trailing"},
        {L" leading kept", L" leading kept"}, {L"★★★★★", L"★★★★★"},
        {L"CON", L"CON-"}, {L"nul.txt", L"nul-.txt"}, {L"con .tar.gz", L"con- .tar.gz"}, {L"Com7", L"Com7-"},
        {L"lpt\u00b9", L"lpt\u00b9-"}, {L"Console", L"Console"}, {L"COM0", L"COM0"},
        // Cut so that "<name> (99).lnk" keeps to the 255 units of a file name; a pair is never split.
        {std::wstring(300, L'x'), std::wstring(246, L'x')},
        {std::wstring(245, L'x') + L"\U0001F600", std::wstring(245, L'x')},
        {L"x" + std::wstring(245, L' ') + L"y", L"x"},
        {L"AUX." + std::wstring(300, L'x'), L"AUX-." + std::wstring(241, L'x')},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(to_utf8(row.display_name));
        EXPECT_EQ(shortcut_detail::clean_file_name(row.display_name), row.file_name);
    }
}

TEST_F(folder_item_menu, numbering_skips_taken_names_never_overwrites_and_needs_the_desktop)
{
    unique_absolute_id_list target;
    ASSERT_EQ(SHParseDisplayName(main_root_parsing_name, nullptr, target.put(), 0, nullptr), S_OK);
    write_file(desktop.path() / L"X.lnk", "first");
    write_file(desktop.path() / L"X (2).lnk", "second");
    std::filesystem::create_directory(desktop.path() / L"X (3).lnk");
    EXPECT_EQ(create_desktop_shortcut_to_pidl(target.get(), L"X", L""), S_OK);
    EXPECT_TRUE(same_id_list(shortcut_target(desktop.path() / L"X (4).lnk").get(), target.get()));
    EXPECT_EQ(read_file(desktop.path() / L"X.lnk"), "first");
    EXPECT_EQ(read_file(desktop.path() / L"X (2).lnk"), "second");

    // Every name up to " (99)" taken: nothing is written, and the caller hears why.
    for (int n = 5; n <= 99; ++n)
        write_file(desktop.path() / (L"X (" + std::to_wstring(n) + L").lnk"), "taken");
    const auto before = desktop.shortcuts();
    EXPECT_EQ(create_desktop_shortcut_to_pidl(target.get(), L"X", L""), HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));
    EXPECT_EQ(desktop.shortcuts(), before);
    EXPECT_EQ(read_file(desktop.path() / L"X (99).lnk"), "taken");

    // No desktop folder at all.
    std::filesystem::remove_all(desktop.path());
    EXPECT_EQ(create_desktop_shortcut_to_pidl(target.get(), L"Gone", L""), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    std::filesystem::create_directories(desktop.path());
    EXPECT_EQ(errors(log), (std::vector<std::string>{
                               "ERROR create_desktop_shortcut_to_pidl: no free shortcut name: \"X.lnk\" and \"X (2).lnk\" "
                               "to \"X (99).lnk\" exist in " + to_utf8(desktop.path().wstring()),
                               "ERROR create_desktop_shortcut_to_pidl: SHGetKnownFolderPath failed 0x80070003"}));
}
} // namespace
