// The result-item menu around Wine's real file-system menus: where its commands go, which real commands
// it finds and removes, the string and offset dispatch, the delete dialog answered as a user clicks it,
// deletion into the Recycle Bin, unpinning, and the refresh after a command of the real menu.

#include "commands/search_result_context_menu.h"

#include "base/log.h"
#include "base/com_object.h"
#include "base/namespace_module.h"
#include "support/shell_observers.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <functional>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace
{
using namespace std::chrono_literals;
using strings = std::vector<std::string>;
using wstrings = std::vector<std::wstring>;
using menu_ptr = com_ptr<search_result_context_menu>;
constexpr UINT first_id = 1000;
constexpr UINT last_id = 0x7FFF;

std::string hex(HRESULT hr)
{
    return fmt::format("0x{:08X}", hresult_bits(hr));
}

unique_absolute_id_list parse(const std::filesystem::path& path)
{
    unique_absolute_id_list list;
    EXPECT_EQ(hex(SHParseDisplayName(path.c_str(), nullptr, list.put(), 0, nullptr)), hex(S_OK)) << path.string();
    return list;
}

// The file system's own menu for one file, as its parent folder hands it out.
com_ptr<IContextMenu> real_menu(const std::filesystem::path& path)
{
    const auto list = parse(path);
    com_ptr<IShellFolder> parent;
    PCUITEMID_CHILD last = nullptr;
    com_ptr<IContextMenu> menu;
    if (SUCCEEDED(SHBindToParent(list.get(), IID_IShellFolder, parent.put_void(), &last)))
        parent->GetUIObjectOf(nullptr, 1, &last, IID_IContextMenu, nullptr, menu.put_void());
    return menu;
}

menu_ptr new_menu()
{
    search_result_context_menu* raw = nullptr;
    EXPECT_EQ(hex(create_search_result_context_menu(&raw)), hex(S_OK));
    return menu_ptr::attach(raw);
}

menu_ptr single_menu(IContextMenu* real, const std::filesystem::path& path, PCIDLIST_ABSOLUTE folder)
{
    auto menu = new_menu();
    const auto item = parse(path);
    EXPECT_EQ(hex(menu->initialize_single(real, item.get(), item.clone(), folder, path.wstring())), hex(S_OK));
    return menu;
}

struct menu_item
{
    UINT id;
    std::wstring text;
    bool operator==(const menu_item&) const = default;
};

// Every item of the menu in order; separators read as {0, L"-"}.
std::vector<menu_item> items_of(HMENU menu)
{
    std::vector<menu_item> items;
    for (int i = 0; i < GetMenuItemCount(menu); ++i)
    {
        wchar_t text[128] = {};
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = static_cast<UINT>(std::size(text));
        GetMenuItemInfoW(menu, i, TRUE, &info);
        items.push_back((info.fType & MFT_SEPARATOR) ? menu_item{0, L"-"} : menu_item{info.wID, text});
    }
    return items;
}

std::vector<std::wstring> texts_of(HMENU menu)
{
    std::vector<std::wstring> texts;
    for (const auto& item : items_of(menu))
        texts.push_back(item.text);
    return texts;
}

// The offset of the command with `text` in a menu queried from `first_id`; 0 when there is none.
UINT offset_of(HMENU menu, const wchar_t* text)
{
    for (const auto& item : items_of(menu))
        if (item.text == text)
            return item.id - first_id;
    return 0;
}

struct popup
{
    popup() : menu(CreatePopupMenu()) {}
    ~popup() { DestroyMenu(menu); }
    HMENU menu;
};

HRESULT invoke(IContextMenu* menu, UINT offset)
{
    CMINVOKECOMMANDINFO info{};
    info.cbSize = sizeof(info);
    info.lpVerb = MAKEINTRESOURCEA(offset);
    info.nShow = SW_SHOWNORMAL;
    return menu->InvokeCommand(&info);
}

HRESULT invoke_verb(IContextMenu* menu, const char* verb, const wchar_t* wide_verb = nullptr)
{
    CMINVOKECOMMANDINFOEX info{};
    info.cbSize = sizeof(info);
    info.fMask = wide_verb ? CMIC_MASK_UNICODE : 0;
    info.lpVerb = verb;
    info.lpVerbW = wide_verb;
    return menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info));
}

// A real menu stand-in for what Wine's cannot do on demand: one command with the given verb, whose
// invocation is recorded and runs `action`.
class fake_real_menu final : public com_object<fake_real_menu, IContextMenu>
{
public:
    fake_real_menu(std::string verb, std::function<void()> action) : verb_(std::move(verb)), action_(std::move(action)) {}
    STDMETHODIMP QueryContextMenu(HMENU menu, UINT index, UINT first, UINT, UINT) noexcept override
    {
        if (FAILED(query_answer))
            return query_answer;
        InsertMenuW(menu, index, MF_BYPOSITION | MF_STRING, first, L"Fake");
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1);
    }
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) noexcept override
    {
        size = info->cbSize;
        verb = IS_INTRESOURCE(info->lpVerb) ? "#" + std::to_string(LOWORD(reinterpret_cast<UINT_PTR>(info->lpVerb)))
                                            : std::string(info->lpVerb);
        if (info->cbSize >= sizeof(CMINVOKECOMMANDINFOEX))
        {
            const auto* wide = reinterpret_cast<CMINVOKECOMMANDINFOEX*>(info);
            directory = wide->lpDirectoryW ? wide->lpDirectoryW : L"";
            narrow_directory = wide->lpDirectory ? wide->lpDirectory : "";
        }
        if (action_)
            action_();
        return answer;
    }
    STDMETHODIMP GetCommandString(UINT_PTR command, UINT type, UINT*, CHAR* buffer, UINT size) noexcept override
    {
        if (command != 0 || type != GCS_VERBA || size <= verb_.size())
            return E_INVALIDARG;
        lstrcpyA(buffer, verb_.c_str());
        return S_OK;
    }

    HRESULT query_answer = S_OK;
    HRESULT answer = S_OK;
    DWORD size = 0;
    std::string verb;
    std::wstring directory;
    std::string narrow_directory;

private:
    std::string verb_;
    std::function<void()> action_;
};

com_ptr<fake_real_menu> make_fake(std::string verb, std::function<void()> action = {})
{
    return com_ptr<fake_real_menu>::attach(new fake_real_menu(std::move(verb), std::move(action)));
}

class result_menu_test : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const auto* name : {L"a.txt", L"b.txt"})
            test_support::write_file(files() / name, "x");
        std::filesystem::create_directories(view());
        view_list = parse(view());
    }
    void TearDown() override
    {
        // Menus, real menus and watcher threads hold the module; all of them must let go.
        for (int i = 0; i < 100 && the_module().lock_count() != 0; ++i)
            std::this_thread::sleep_for(50ms);
        EXPECT_EQ(the_module().lock_count(), 0) << "DllCanUnloadNow would answer S_FALSE";
    }

    std::filesystem::path files() const { return scratch.path() / L"files"; }
    std::filesystem::path view() const { return scratch.path() / L"view"; }
    std::filesystem::path file(const wchar_t* name) const { return files() / name; }

    test_support::scratch_folder scratch{L"result-menu"};
    unique_absolute_id_list view_list;
};

TEST_F(result_menu_test, open_file_location_goes_below_the_real_open_group)
{
    const auto real = real_menu(file(L"a.txt"));
    ASSERT_TRUE(real);
    popup alone;
    const HRESULT real_count = real->QueryContextMenu(alone.menu, 0, first_id + 100, last_id, CMF_NORMAL);
    auto expected = items_of(alone.menu);

    auto menu = single_menu(real.get(), file(L"a.txt"), view_list.get());
    popup wrapped;
    EXPECT_EQ(hex(menu->QueryContextMenu(wrapped.menu, 0, first_id, last_id, CMF_NORMAL)), hex(real_count + 100));
    // Wine's menu: "&Select" and "&Open" (both "open"), a separator, ... The item ends their group.
    const auto separator = std::find(expected.begin(), expected.end(), menu_item{0, L"-"});
    ASSERT_TRUE(separator != expected.begin() && separator != expected.end());
    EXPECT_EQ((separator - 1)->text, L"&Open");
    expected.insert(separator, {first_id, L"Open File Location"});
    EXPECT_EQ(items_of(wrapped.menu), expected);
}

TEST_F(result_menu_test, pins_and_groups_trade_the_real_rename_and_delete_for_their_own)
{
    const struct { const char* name; bool group; UINT flags; bool real_rename; bool real_delete; wstrings own_tail;
                   bool real_cut = true; } rows[] = {
        // Wine offers "&Rename" only with CMF_CANRENAME.
        {"pin", false, CMF_CANRENAME, false, false, {L"-", L"Rename pin", L"Unpin"}, false},
        {"group", true, CMF_CANRENAME, false, true, {L"-", L"Rename group"}},
        {"pin, default only", false, CMF_DEFAULTONLY | CMF_CANRENAME, false, false, {}, false},
        {"plain result", false, CMF_CANRENAME, true, true, {}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        const auto real = real_menu(file(L"a.txt"));
        auto menu = single_menu(real.get(), file(L"a.txt"), view_list.get());
        if (std::string(row.name) != "plain result")
        {
            ASSERT_EQ(menu->set_pin_data(file(L"a.txt").wstring(), files().wstring(), row.group), S_OK);
        }
        popup wrapped;
        ASSERT_TRUE(SUCCEEDED(menu->QueryContextMenu(wrapped.menu, 0, first_id, last_id, row.flags)));
        const auto texts = texts_of(wrapped.menu);
        const auto has = [&](const wchar_t* text) { return std::find(texts.begin(), texts.end(), text) != texts.end(); };
        EXPECT_TRUE(has(L"Open File Location"));
        if (row.flags & CMF_DEFAULTONLY)
        {
            EXPECT_EQ(texts, wstrings{L"Open File Location"}) << "Wine adds nothing for CMF_DEFAULTONLY";
            continue;
        }
        EXPECT_EQ(has(L"&Rename"), row.real_rename);
        EXPECT_EQ(has(L"&Delete"), row.real_delete);
        EXPECT_EQ(has(L"C&ut"), row.real_cut) << "a pasted cut would move a pin's target";
        if (row.own_tail.empty())
            EXPECT_FALSE(has(L"Rename pin") || has(L"Unpin") || has(L"Rename group"));
        else
            EXPECT_EQ(wstrings(texts.end() - static_cast<std::ptrdiff_t>(row.own_tail.size()), texts.end()), row.own_tail);
    }
}

// A range narrower than 100 ids, or a real menu that fails: nothing is added, and S_OK.
TEST_F(result_menu_test, a_narrow_range_or_a_failing_real_menu_adds_nothing)
{
    auto failing = make_fake("open");
    failing->query_answer = E_OUTOFMEMORY;
    const auto real = real_menu(file(L"a.txt"));
    const std::tuple<IContextMenu*, UINT, strings> rows[] = {
        {real.get(), first_id, {}}, {real.get(), first_id + 50, {}}, {real.get(), first_id + 99, {}},
        {failing.get(), last_id, {"WARNING QueryContextMenu: Delegate failed 0x8007000E"}},
    };
    for (const auto& [delegate, last, messages] : rows)
    {
        SCOPED_TRACE(last);
        auto menu = single_menu(delegate, file(L"a.txt"), view_list.get());
        test_support::log_capture log;
        popup wrapped;
        EXPECT_EQ(hex(menu->QueryContextMenu(wrapped.menu, 0, first_id, last, CMF_NORMAL)), hex(S_OK));
        EXPECT_EQ(GetMenuItemCount(wrapped.menu), 0);
        EXPECT_EQ(log.messages(), messages);
    }
}

TEST_F(result_menu_test, command_strings_by_offset_and_offsets_without_a_command_refused)
{
    const auto real = real_menu(file(L"a.txt"));
    auto menu = single_menu(real.get(), file(L"a.txt"), view_list.get());
    popup wrapped;
    ASSERT_TRUE(SUCCEEDED(menu->QueryContextMenu(wrapped.menu, 0, first_id, last_id, CMF_NORMAL)));
    const UINT properties = offset_of(wrapped.menu, L"&Properties"); // the real menu's
    ASSERT_GE(properties, 100u);

    const struct { UINT_PTR offset; UINT type; UINT size; HRESULT result; std::string text; } rows[] = {
        {0, GCS_VERBW, 64, S_OK, "VLM.OpenFileLocation"},
        {0, GCS_VERBA, 21, S_OK, "VLM.OpenFileLocation"},
        {0, GCS_VERBA, 20, E_FAIL, ""},
        {0, GCS_VERBW, 20, E_FAIL, ""},
        {0, GCS_HELPTEXTW, 64, E_NOTIMPL, ""},
        {99, GCS_VERBA, 64, E_INVALIDARG, ""},
        {properties, GCS_VERBA, 64, S_OK, "properties"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(fmt::format("offset {} type {} size {}", row.offset, row.type, row.size));
        wchar_t buffer[64] = {};
        EXPECT_EQ(hex(menu->GetCommandString(row.offset, row.type, nullptr, reinterpret_cast<CHAR*>(buffer), row.size)),
                  hex(row.result));
        if (row.result != S_OK)
            continue;
        const std::string text = row.type == GCS_VERBW ? to_utf8(buffer) : std::string(reinterpret_cast<char*>(buffer));
        EXPECT_EQ(text, row.text);
    }
    for (const UINT offset : {1u, 2u, 50u, 99u})
    {
        SCOPED_TRACE(offset);
        test_support::log_capture log;
        EXPECT_EQ(hex(invoke(menu.get(), offset)), hex(E_INVALIDARG)) << "no pin data: no pin commands";
        EXPECT_EQ(log.messages(), strings{fmt::format(
                                      "WARNING InvokeCommand: ID {} is below Delegate Offset (100) but not processed. "
                                      "Invalid Arg.",
                                      offset)});
    }
    EXPECT_TRUE(std::filesystem::exists(file(L"a.txt")));
}

TEST_F(result_menu_test, string_verbs_and_delegated_offsets_reach_the_real_menu)
{
    auto fake = make_fake("properties");
    auto menu = single_menu(fake.get(), file(L"a.txt"), view_list.get());
    popup wrapped;
    ASSERT_EQ(hex(menu->QueryContextMenu(wrapped.menu, 0, first_id, last_id, CMF_NORMAL)), hex(MAKE_HRESULT(0, 0, 101)));

    // By name "VLM.OpenFileLocation" is the real menu's, which answers what it answers.
    fake->answer = E_INVALIDARG;
    EXPECT_EQ(hex(invoke_verb(menu.get(), "VLM.OpenFileLocation")), hex(E_INVALIDARG));
    EXPECT_EQ(fake->verb, "VLM.OpenFileLocation");

    // Offset 100 is the real command 0, with the working folder of the file, not of the view.
    fake->answer = S_OK;
    CMINVOKECOMMANDINFO narrow{};
    narrow.cbSize = sizeof(narrow);
    narrow.lpVerb = MAKEINTRESOURCEA(100);
    narrow.lpDirectory = "C:\\";
    EXPECT_EQ(hex(menu->InvokeCommand(&narrow)), hex(S_OK));
    EXPECT_EQ(fake->directory, files().wstring());
    EXPECT_EQ(fake->narrow_directory, files().string());
    fake->answer = E_ACCESSDENIED;
    EXPECT_EQ(hex(invoke(menu.get(), 100)), hex(E_ACCESSDENIED));

    // Menu messages go to a real menu that takes them; this one has no IContextMenu2 or 3.
    LRESULT result = 0;
    EXPECT_EQ(hex(menu->HandleMenuMsg(WM_INITMENUPOPUP, 0, 0)), hex(E_NOTIMPL));
    EXPECT_EQ(hex(menu->HandleMenuMsg2(WM_MENUCHAR, 0, 0, &result)), hex(E_NOTIMPL));
    const auto real = real_menu(file(L"b.txt"));
    auto wrapping_real = single_menu(real.get(), file(L"b.txt"), view_list.get());
    const auto real3 = real.try_query<IContextMenu3>();
    ASSERT_TRUE(real3);
    LRESULT theirs = 0;
    EXPECT_EQ(hex(wrapping_real->HandleMenuMsg2(WM_MENUCHAR, 0, 0, &result)),
              hex(real3->HandleMenuMsg2(WM_MENUCHAR, 0, 0, &theirs)));
}

// After a real "open" without a separator after it the item follows "open"; a real menu without "open"
// (the Recycle Bin's own item menu: "Restore", "Erase") gets it on top. The real "open" is invoked by name.
TEST_F(result_menu_test, open_file_location_follows_the_real_open_or_tops_a_menu_without_one)
{
    for (const bool has_open : {true, false})
    {
        SCOPED_TRACE(has_open ? "open" : "no open");
        auto fake = make_fake(has_open ? "open" : "restore");
        auto menu = single_menu(fake.get(), file(L"a.txt"), view_list.get());
        popup wrapped;
        AppendMenuW(wrapped.menu, MF_STRING, 1, L"View");
        EXPECT_EQ(hex(menu->QueryContextMenu(wrapped.menu, 1, first_id, last_id, CMF_NORMAL)), hex(MAKE_HRESULT(0, 0, 101)));
        const menu_item view{1, L"View"}, real{first_id + 100, L"Fake"}, own{first_id, L"Open File Location"};
        EXPECT_EQ(items_of(wrapped.menu), (has_open ? std::vector{view, real, own} : std::vector{view, own, real}));
        EXPECT_EQ(hex(invoke(menu.get(), 100)), hex(S_OK));
        EXPECT_EQ(fake->verb, has_open ? "open" : "#0");
        EXPECT_EQ(fake->size, sizeof(CMINVOKECOMMANDINFOEX));
    }
}

TEST_F(result_menu_test, unpin_recycles_the_shortcut_and_refreshes_once)
{
    const auto group = scratch.path() / L"Group";
    const auto shortcut = group / L"a.txt.lnk";
    test_support::write_file(shortcut, "not really a shortcut");
    const int before = test_support::recycled_items_from(shortcut);
    ASSERT_GE(before, 0);
    test_support::change_recorder changes(view_list.get());
    ASSERT_TRUE(changes.registered());

    const auto real = real_menu(file(L"a.txt"));
    auto menu = single_menu(real.get(), file(L"a.txt"), view_list.get());
    ASSERT_EQ(menu->set_pin_data(shortcut.wstring(), group.wstring(), false), S_OK);
    EXPECT_EQ(hex(invoke(menu.get(), 2)), hex(S_OK));
    changes.pump(300ms);
    EXPECT_FALSE(std::filesystem::exists(shortcut));
    EXPECT_TRUE(std::filesystem::exists(file(L"a.txt"))) << "the target stays";
    EXPECT_EQ(test_support::recycled_items_from(shortcut), before + 1);
    EXPECT_EQ(changes.count(SHCNE_UPDATEDIR, view_list.get()), 1);

    // A group has no "Unpin"; a shortcut outside the group is refused by the store.
    ASSERT_EQ(menu->set_pin_data(group.wstring(), scratch.path().wstring(), true), S_OK);
    EXPECT_EQ(hex(invoke(menu.get(), 2)), hex(E_INVALIDARG));
    ASSERT_EQ(menu->set_pin_data(file(L"a.txt").wstring(), group.wstring(), false), S_OK);
    EXPECT_EQ(hex(invoke(menu.get(), 2)), hex(E_FAIL));
    EXPECT_TRUE(std::filesystem::exists(file(L"a.txt")));
}

// A pin's menu is the real menu of its target: every way to the real "delete", "rename" or "cut" leads to
// the pin instead, also by the command of one the menu has taken out. "Rename pin" needs the view's folder
// view, which a site that offers no services (an object without IServiceProvider) does not give.
TEST_F(result_menu_test, a_pin_never_lets_the_real_menu_act_on_its_target)
{
    const auto group = scratch.path() / L"Group";
    const auto shortcut = group / L"a.txt.lnk";
    const std::string unpinned = "INFO [quick-pins] Unpinned 1 item(s) from '" + to_utf8(group.wstring()) + "'";
    const std::string no_view = "WARNING InvokeCommand: Rename pin could not reach the folder view";
    const std::string no_cut = "WARNING InvokeCommand: cut is not offered for quick pins (a paste would move the pinned file)";
    const struct
    {
        const char* name;
        const char* real_verb;
        const char* verb; // by the real command (offset 100) when neither verb is given
        const wchar_t* wide_verb;
        HRESULT result;
        std::string log;
    } rows[] = {
        {"delete", "delete", "delete", nullptr, S_OK, unpinned},
        {"wide delete", "delete", "x", L"DELETE", S_OK, unpinned},
        {"the real delete's command", "delete", nullptr, nullptr, S_OK, unpinned},
        {"rename", "rename", "rename", nullptr, E_FAIL, no_view},
        {"the real rename's command", "rename", nullptr, nullptr, E_FAIL, no_view},
        {"cut", "cut", "cut", nullptr, E_INVALIDARG, no_cut},
        {"the real cut's command", "cut", nullptr, nullptr, E_INVALIDARG, no_cut},
        {"another real command", "copy", nullptr, nullptr, S_OK, ""},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        test_support::write_file(shortcut, "not really a shortcut");
        auto fake = make_fake(row.real_verb);
        auto menu = single_menu(fake.get(), file(L"a.txt"), view_list.get());
        ASSERT_EQ(menu->set_pin_data(shortcut.wstring(), group.wstring(), false), S_OK);
        void* site = reinterpret_cast<void*>(1);
        EXPECT_EQ(hex(menu->GetSite(IID_IUnknown, &site)), hex(E_FAIL));
        EXPECT_EQ(site, nullptr);
        auto unrelated = make_fake("x");
        EXPECT_EQ(hex(menu->SetSite(unrelated.get())), hex(S_OK));
        EXPECT_EQ(hex(menu->GetSite(IID_IContextMenu, &site)), hex(S_OK));
        EXPECT_EQ(site, static_cast<IContextMenu*>(unrelated.get()));
        static_cast<IUnknown*>(site)->Release();
        popup wrapped;
        ASSERT_TRUE(SUCCEEDED(menu->QueryContextMenu(wrapped.menu, 0, first_id, last_id, CMF_NORMAL)));
        const auto texts = texts_of(wrapped.menu);
        EXPECT_EQ(std::count(texts.begin(), texts.end(), L"Fake"), row.log.empty() ? 1 : 0) << "taken out of the menu";
        test_support::log_capture log;
        test_support::dialog_closer questions;
        const HRESULT hr = row.verb ? invoke_verb(menu.get(), row.verb, row.wide_verb) : invoke(menu.get(), 100);
        EXPECT_FALSE(questions.stop()) << "asked a question";
        EXPECT_EQ(hex(hr), hex(row.result));
        EXPECT_EQ(log.messages(), row.log.empty() ? strings{} : strings{row.log});
        EXPECT_EQ(fake->verb, row.log.empty() ? "#0" : "") << "the real menu acted";
        EXPECT_EQ(std::filesystem::exists(shortcut), row.log != unpinned);
        EXPECT_EQ(test_support::read_file(file(L"a.txt")), "x") << "the target stays as it was";
    }
}

// Answers the delete dialog as a user would: waits for the window titled "Delete", reads its texts and
// presses `button`.
class dialog_answer
{
public:
    explicit dialog_answer(int button)
        : thread_([this, button] {
              // Shown, not just found: a dialog is found while its controls are still being made.
              for (int i = 0; i < 200 && !(window_ && IsWindowVisible(window_)); ++i, std::this_thread::sleep_for(25ms))
                  window_ = FindWindowW(nullptr, L"Delete");
              if (!window_)
                  return;
              EnumChildWindows(
                  window_,
                  [](HWND child, LPARAM self) {
                      wchar_t text[256] = {};
                      GetWindowTextW(child, text, static_cast<int>(std::size(text)));
                      if (text[0])
                          reinterpret_cast<dialog_answer*>(self)->texts_.push_back(text);
                      return TRUE;
                  },
                  reinterpret_cast<LPARAM>(this));
              SendMessageW(window_, TDM_CLICK_BUTTON, static_cast<WPARAM>(button), 0);
          })
    {
    }
    ~dialog_answer() { join(); }
    void join()
    {
        if (thread_.joinable())
            thread_.join();
    }
    bool shown() const { return window_ != nullptr; }
    bool showed(const std::wstring& text) const { return std::find(texts_.begin(), texts_.end(), text) != texts_.end(); }

private:
    HWND window_ = nullptr;
    wstrings texts_;
    std::thread thread_;
};

TEST_F(result_menu_test, delete_asks_and_moves_to_the_recycle_bin)
{
    const auto real = real_menu(file(L"a.txt"));
    const auto a = file(L"a.txt");
    const int before = test_support::recycled_items_from(a);
    ASSERT_GE(before, 0);
    // The abort comes by the wide verb, the others by the real command's offset.
    const struct { const char* name; int button; bool abort; HRESULT result; bool moved; } rows[] = {
        {"cancel", IDCANCEL, false, S_OK, false},
        {"abort in the file operation", 6, true, HRESULT_FROM_WIN32(ERROR_CANCELLED), false},
        {"move to the Recycle Bin", 6, false, S_OK, true},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        auto menu = single_menu(real.get(), a, view_list.get());
        popup wrapped;
        ASSERT_TRUE(SUCCEEDED(menu->QueryContextMenu(wrapped.menu, 0, first_id, last_id, CMF_NORMAL)));
        const UINT delete_offset = offset_of(wrapped.menu, L"&Delete");
        ASSERT_GE(delete_offset, 100u);

        test_support::change_recorder changes(view_list.get());
        if (row.abort)
            SetEnvironmentVariableW(L"VELMORA_FILE_OPERATION_ABORT", L"1");
        dialog_answer answer(row.button);
        const HRESULT hr = row.abort ? invoke_verb(menu.get(), "x", L"Delete") : invoke(menu.get(), delete_offset);
        answer.join();
        SetEnvironmentVariableW(L"VELMORA_FILE_OPERATION_ABORT", nullptr);
        changes.pump(300ms);
        EXPECT_EQ(hex(hr), hex(row.result));
        EXPECT_TRUE(answer.shown());
        EXPECT_TRUE(answer.showed(L"a.txt"));
        EXPECT_TRUE(answer.showed(L"This item will be moved to the Recycle Bin."));
        EXPECT_TRUE(answer.showed(L"Move to Recycle Bin"));
        EXPECT_EQ(std::filesystem::exists(a), !row.moved);
        EXPECT_EQ(test_support::recycled_items_from(a), before + (row.moved ? 1 : 0)) << "never deleted outright";
        EXPECT_EQ(changes.count(SHCNE_UPDATEDIR, view_list.get()), row.moved ? 1 : 0);
    }
    EXPECT_TRUE(test_support::restore_recycled(a)) << "restored from the Recycle Bin";
    EXPECT_EQ(test_support::read_file(a), "x");
}

TEST_F(result_menu_test, a_multi_selection_asks_for_the_count_and_recycles_all)
{
    const wstrings paths = {file(L"a.txt").wstring(), file(L"b.txt").wstring(), file(L"gone.txt").wstring()};
    auto menu = new_menu();
    auto fake = make_fake("delete");
    EXPECT_EQ(hex(menu->initialize_multi(nullptr, paths, view_list.get())), hex(E_INVALIDARG));
    ASSERT_EQ(hex(menu->initialize_multi(fake.get(), paths, view_list.get())), hex(S_OK));
    popup wrapped;
    ASSERT_TRUE(SUCCEEDED(menu->QueryContextMenu(wrapped.menu, 0, first_id, last_id, CMF_NORMAL)));
    EXPECT_EQ(texts_of(wrapped.menu), wstrings{L"Fake"}) << "no \"Open File Location\" for several files";
    EXPECT_EQ(hex(invoke(menu.get(), 0)), hex(E_INVALIDARG)) << "nor its command";

    const int b_before = test_support::recycled_items_from(file(L"b.txt"));
    test_support::change_recorder changes(view_list.get());
    dialog_answer answer(6);
    EXPECT_EQ(hex(invoke(menu.get(), 100)), hex(S_OK));
    answer.join();
    changes.pump(300ms);
    EXPECT_TRUE(answer.showed(L"Delete 3 items?"));
    EXPECT_TRUE(answer.showed(L"These 3 items will be moved to the Recycle Bin."));
    EXPECT_FALSE(std::filesystem::exists(file(L"a.txt")));
    EXPECT_FALSE(std::filesystem::exists(file(L"b.txt")));
    EXPECT_EQ(test_support::recycled_items_from(file(L"b.txt")), b_before + 1);
    EXPECT_EQ(changes.count(SHCNE_UPDATEDIR, view_list.get()), 1);
    EXPECT_EQ(fake->verb, "") << "the real delete never ran";
}

TEST_F(result_menu_test, a_file_moved_away_by_a_real_command_refreshes_the_view_once)
{
    const auto moved_to = scratch.path() / L"elsewhere.txt";
    // The view waits for a refresh as long as the row says.
    const struct { const char* name; bool moved; std::chrono::milliseconds watch; } rows[] = {
        {"moved in the background", true, 2000ms},
        {"still there after 20 checks", false, 4500ms},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        test_support::write_file(file(L"a.txt"), "x");
        std::thread mover;
        auto fake = make_fake("cut", [&] {
            if (row.moved)
                mover = std::thread([&] {
                    std::this_thread::sleep_for(700ms);
                    MoveFileW(file(L"a.txt").c_str(), moved_to.c_str());
                });
        });
        test_support::change_recorder changes(view_list.get());
        {
            auto menu = single_menu(fake.get(), file(L"a.txt"), view_list.get());
            popup wrapped;
            ASSERT_TRUE(SUCCEEDED(menu->QueryContextMenu(wrapped.menu, 0, first_id, last_id, CMF_NORMAL)));
            EXPECT_EQ(hex(invoke(menu.get(), 100)), hex(S_OK));
        } // the watcher outlives the menu
        changes.pump(row.watch);
        if (mover.joinable())
            mover.join();
        EXPECT_EQ(changes.count(SHCNE_UPDATEDIR, view_list.get()), row.moved ? 1 : 0);
        EXPECT_EQ(changes.count(SHCNE_UPDATEITEM), 1) << "the item under the view";
        std::error_code ec;
        std::filesystem::remove(moved_to, ec);
    }
}
} // namespace
