// The folders' own background menu, "Customize navigation", on both roots: what it adds to the shell's
// menu, its verb and help text, and the Settings app stand-in ("Velmora.exe" beside the test
// executable) started on the navigation tab. A failed start runs in a child started from a copy of the
// test executable in a folder without the stand-in.

#include "folder_test_support.h"

#include "commands/settings_app_launcher.h"
#include "commands/settings_app_recorder.h"
#include "support/child_process.h"

using namespace folder_test;

namespace
{
constexpr UINT first_id = 100, last_id = 0x7FFF;

std::vector<std::pair<UINT, std::wstring>> menu_items(HMENU menu)
{
    std::vector<std::pair<UINT, std::wstring>> items;
    for (int position = 0; position < GetMenuItemCount(menu); ++position)
    {
        wchar_t text[128] = {};
        GetMenuStringW(menu, static_cast<UINT>(position), text, 128, MF_BYPOSITION);
        items.emplace_back(GetMenuItemID(menu, position), text);
    }
    return items;
}

struct popup_menu
{
    popup_menu() { AppendMenuW(menu, MF_STRING, 1, L"View"), AppendMenuW(menu, MF_STRING, 2, L"Refresh"); }
    ~popup_menu() { DestroyMenu(menu); }
    HMENU menu = CreatePopupMenu();
};

CMINVOKECOMMANDINFO command(const char* verb)
{
    CMINVOKECOMMANDINFO info{};
    info.cbSize = sizeof(info);
    info.lpVerb = verb;
    info.nShow = SW_SHOWNORMAL;
    return info;
}

using folder_background_menu = folder_fixture;

TEST_F(folder_background_menu, customize_navigation_is_added_once_at_the_index)
{
    for (const bool quick_pins : {false, true})
    {
        SCOPED_TRACE(quick_pins ? "Quick pins" : "Sortwell");
        const auto root = make_root(quick_pins);
        // The view asks the folder for its background menu; other objects are not the folder's to make.
        com_ptr<IContextMenu> context_menu;
        ASSERT_EQ(hex(root->CreateViewObject(nullptr, IID_IContextMenu, context_menu.put_void())), hex(S_OK));
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(hex(root->CreateViewObject(nullptr, IID_IShellFolder, &out)), hex(E_NOINTERFACE));
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(hex(root->CreateViewObject(nullptr, IID_IShellView, nullptr)), hex(E_INVALIDARG));

        popup_menu shell;
        EXPECT_EQ(hex(context_menu->QueryContextMenu(shell.menu, 1, first_id, last_id, CMF_DEFAULTONLY)), hex(S_OK));
        EXPECT_EQ(GetMenuItemCount(shell.menu), 2);
        EXPECT_EQ(hex(context_menu->QueryContextMenu(shell.menu, 1, first_id, last_id, CMF_NORMAL)),
                  hex(MAKE_HRESULT(SEVERITY_SUCCESS, 0, 2)));
        // Asked again for the same menu, it adds nothing.
        EXPECT_EQ(hex(context_menu->QueryContextMenu(shell.menu, 0, first_id, last_id, CMF_NORMAL)), hex(S_OK));
        const std::vector<std::pair<UINT, std::wstring>> expected = {
            {1, L"View"}, {first_id + 1, L"Customize navigation"}, {2, L"Refresh"}};
        EXPECT_EQ(menu_items(shell.menu), expected);

        // Another folder's item of the same text counts too; no room in the id range adds nothing.
        popup_menu other;
        AppendMenuW(other.menu, MF_STRING, 7, L"Customize navigation");
        EXPECT_EQ(hex(context_menu->QueryContextMenu(other.menu, 0, first_id, last_id, CMF_NORMAL)), hex(S_OK));
        popup_menu full;
        EXPECT_EQ(hex(context_menu->QueryContextMenu(full.menu, 0, first_id, first_id, CMF_NORMAL)), hex(S_OK));
        EXPECT_EQ(GetMenuItemCount(other.menu) + GetMenuItemCount(full.menu), 5);
        EXPECT_EQ(hex(context_menu->QueryContextMenu(nullptr, 0, first_id, last_id, CMF_NORMAL)), hex(E_INVALIDARG));
    }
    EXPECT_EQ(log_->messages(), std::vector<std::string>{});
}

TEST_F(folder_background_menu, verb_and_help_text)
{
    const auto root = make_root(false);
    struct row
    {
        UINT_PTR id;
        UINT type;
        UINT size;
        HRESULT expected;
        std::string text; // narrow for GCS_VERBA, else the UTF-8 of the wide text
    };
    const row rows[] = {
        {1, GCS_VERBW, 64, S_OK, "VLM.CustomizeNavigation"},
        {1, GCS_VERBW, 4, S_OK, "VLM"},
        {1, GCS_VERBA, 64, S_OK, "VLM.CustomizeNavigation"},
        {1, GCS_VERBA, 4, E_FAIL, ""},
        {1, GCS_HELPTEXTW, 51, S_OK, "Open Pathwright settings"},
        {1, GCS_HELPTEXTW, 50, E_NOTIMPL, ""},
        {1, GCS_HELPTEXTA, 64, E_NOTIMPL, ""},
        {2, GCS_VERBW, 64, E_NOTIMPL, ""},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(fmt::format("id {} type {} size {}", r.id, r.type, r.size));
        wchar_t buffer[64] = {};
        const HRESULT hr = root->GetCommandString(r.id, r.type, nullptr, reinterpret_cast<CHAR*>(buffer), r.size);
        EXPECT_EQ(hex(hr), hex(r.expected));
        if (hr == S_OK)
        {
            EXPECT_EQ(r.type == GCS_VERBA ? std::string(reinterpret_cast<const char*>(buffer)) : to_utf8(buffer), r.text);
        }
    }
}

TEST_F(folder_background_menu, customize_navigation_opens_the_navigation_tab)
{
    ASSERT_EQ(settings_app_detail::host_route(), settings_app_detail::launch_route::shell)
        << "Wine's IsUserAnAdmin answers TRUE";
    for (const bool quick_pins : {false, true})
    {
        SCOPED_TRACE(quick_pins ? "Quick pins" : "Sortwell");
        const auto root = make_root(quick_pins);
        settings_app_test::settings_app_recorder recorder;
        // Only the number 1 is the command; a verb string, even our own, is not.
        for (const char* other : std::vector<const char*>{"VLM.CustomizeNavigation", MAKEINTRESOURCEA(2)})
        {
            auto info = command(other);
            EXPECT_EQ(hex(root->InvokeCommand(&info)), hex(E_INVALIDARG));
        }
        EXPECT_EQ(hex(root->InvokeCommand(nullptr)), hex(E_INVALIDARG));
        auto info = command(MAKEINTRESOURCEA(1));
        EXPECT_EQ(hex(root->InvokeCommand(&info)), hex(S_OK));
        const auto records = recorder.wait_for(1);
        ASSERT_EQ(records.size(), 1u) << "the Settings app stand-in never recorded a start";
        EXPECT_EQ(to_utf8(records[0].command_line),
                  to_utf8(L"\"" + settings_app_test::settings_app_path().wstring() + L"\" --open-tab=pathwright"));
        EXPECT_EQ(to_utf8(records[0].arguments), "--open-tab=pathwright");
    }
    EXPECT_EQ(log_->messages(), std::vector<std::string>{});
}

// The child takes the direct route, as an unpackaged, non-elevated Explorer does, which reports the
// missing app with its error.
TEST(folder_background_menu_child, DISABLED_customize_navigation_without_the_app)
{
    if (test_support::environment_value(L"VELMORA_TEST_MISSING_APP").empty())
        GTEST_SKIP() << "run by customize_navigation_without_the_app_fails";
    // The child runs this test only, so the route is not given back.
    settings_app_detail::replace_route_choice([]() noexcept { return settings_app_detail::launch_route::direct; });
    const auto root = make_root(false);
    auto info = command(MAKEINTRESOURCEA(1));
    EXPECT_EQ(hex(root->InvokeCommand(&info)), hex(E_FAIL));
}

TEST_F(folder_background_menu, customize_navigation_without_the_app_fails)
{
    test_support::scratch_folder folder(L"no-settings-app");
    const auto copy = folder.path() / L"host.exe";
    std::filesystem::copy_file(test_support::executable_path(), copy);
    test_support::child_test_process child("folder_background_menu_child.DISABLED_customize_navigation_without_the_app",
                                           {{L"VELMORA_TEST_MISSING_APP", L"1"}}, copy);
    ASSERT_EQ(child.wait(), 0u) << "the child's checks failed";
    const std::string app = to_utf8((folder.path() / L"Velmora.exe").wstring());
    EXPECT_EQ(log_->messages_from(child.id()),
              (std::vector<std::string>{
                  "ERROR Failed to launch the Settings app " + app + " --open-tab=pathwright: error 2 (" +
                      to_utf8(hresult_message(2)) + ")",
                  "ERROR InvokeCommand: exception: Unable to launch " + app + ": error 2",
              }));
}
} // namespace
