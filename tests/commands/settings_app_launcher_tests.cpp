// Starting the Settings app: the stand-in "Velmora.exe" beside the test executable records what each
// route started. Wine's IsUserAnAdmin answers TRUE, so the host's own choice is the shell route there,
// which the shell-launch tests take; here the direct route and the detached fallback are forced. A
// refusal by policy cannot be produced under Wine, so its classification and texts are driven directly.

#include "commands/settings_app_launcher.h"

#include "commands/search_folder_file_context_menu.h"
#include "commands_test_support.h"
#include "items/search_and_action_item_data.h"
#include "settings_app_recorder.h"

#include <gtest/gtest.h>

using namespace commands_test;
using namespace settings_app_test;
using settings_app_detail::launch_route;

namespace
{
// Forces a route for its lifetime.
class forced_route
{
public:
    explicit forced_route(launch_route route)
        : previous_(settings_app_detail::replace_route_choice(route == launch_route::direct ? &direct : &shell))
    {
    }
    ~forced_route() { settings_app_detail::replace_route_choice(previous_); }

private:
    static launch_route direct() noexcept { return launch_route::direct; }
    static launch_route shell() noexcept { return launch_route::shell; }
    settings_app_detail::route_choice previous_;
};

std::string system_text(DWORD error)
{
    return to_utf8(hresult_message(static_cast<HRESULT>(error)));
}

TEST(launch_settings_app, starts_the_app_beside_the_module_with_the_tab)
{
    const std::wstring app = settings_app_path().wstring();
    const std::wstring expected_command_line = L"\"" + app + L"\" --open-tab=tagwright";
    const struct { const char* name; launch_route route; bool shell_refuses; } rows[] = {
        {"direct", launch_route::direct, false},
        {"the detached start after both shell ways refused", launch_route::shell, true},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        settings_app_recorder recorder;
        const forced_route route(r.route);
        std::optional<shell_routes_override> refusing_shell;
        if (r.shell_refuses)
            refusing_shell.emplace();
        test_support::log_capture log;
        launch_settings_app("tagwright");
        const auto records = recorder.wait_for(1);
        ASSERT_EQ(records.size(), 1u) << "the stand-in never recorded a start";
        EXPECT_EQ(to_utf8(records[0].command_line), to_utf8(expected_command_line));
        EXPECT_EQ(to_utf8(records[0].arguments), "--open-tab=tagwright");
        if (r.route == launch_route::direct)
        {
            EXPECT_EQ(to_utf8(records[0].working_directory), to_utf8(settings_app_path().parent_path().wstring()));
        }
        if (r.shell_refuses)
        {
            EXPECT_EQ(refusing_shell->first_calls.size() + refusing_shell->second_calls.size(), 2u);
        }
        EXPECT_EQ(log.messages(), std::vector<std::string>{});
    }
}

// Runs in a child started from a copy of the test executable in a folder without "Velmora.exe".
TEST(launch_settings_app_child, DISABLED_missing_app)
{
    if (test_support::environment_value(L"VELMORA_TEST_MISSING_APP").empty())
        GTEST_SKIP() << "run by a_missing_app_is_reported_with_error_2";
    const std::wstring app = (test_support::executable_folder() / L"Velmora.exe").wstring();
    const auto launch = [] {
        try
        {
            launch_settings_app("tagwright");
        }
        catch (const settings_app::launch_error& e)
        {
            return std::optional(e);
        }
        return std::optional<settings_app::launch_error>();
    };
    {
        forced_route direct(launch_route::direct);
        const auto error = launch();
        ASSERT_TRUE(error);
        EXPECT_STREQ(error->what(), ("Unable to launch " + to_utf8(app) + ": error 2").c_str());
        EXPECT_EQ(error->code, 2u);
        EXPECT_EQ(error->message, settings_app_detail::user_message(app, 2));
        EXPECT_TRUE(error->message.starts_with(L"The Velmora Settings app could not be started.\n\n" + app));
    }
    {
        forced_route shell(launch_route::shell);
        shell_routes_override refusing_shell;
        const auto error = launch();
        ASSERT_TRUE(error);
        EXPECT_STREQ(error->what(), ("Unable to launch " + to_utf8(app)).c_str());
        EXPECT_EQ(error->code, 2u);
        EXPECT_EQ(error->message, settings_app_detail::user_message(app, 2));
    }
    // The folder-item menu's "Customize Sortwell" answers the error's code.
    forced_route direct(launch_route::direct);
    const auto item = create_search_item({.name = L"Reports"}, {.name = L"Q1", .query = L"kind:doc"}, {}, {});
    com_ptr<IContextMenu> menu;
    ASSERT_EQ(create_search_folder_file_context_menu(nullptr, item.get(), IID_IContextMenu, menu.put_void()), S_OK);
    CMINVOKECOMMANDINFO customize{};
    customize.cbSize = sizeof(customize);
    customize.lpVerb = MAKEINTRESOURCEA(2);
    EXPECT_EQ(menu->InvokeCommand(&customize), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST(launch_settings_app, a_missing_app_is_reported_with_error_2)
{
    test_support::scratch_folder folder(L"no-settings-app");
    const auto copy = folder.path() / L"host.exe";
    std::filesystem::copy_file(test_support::executable_path(), copy);
    test_support::log_capture log;
    test_support::child_test_process child("launch_settings_app_child.DISABLED_missing_app",
                                           {{L"VELMORA_TEST_MISSING_APP", L"1"}}, copy);
    ASSERT_EQ(child.wait(), 0u) << "the child's checks failed";
    const std::string app = to_utf8((folder.path() / L"Velmora.exe").wstring());
    const std::string direct = "ERROR Failed to launch the Settings app " + app + " --open-tab=tagwright: error 2 (" +
                               system_text(2) + ")";
    // The launcher's own lines; the menu adds none.
    EXPECT_EQ(log.messages_from(child.id()),
              (std::vector<std::string>{direct, "ERROR Failed to launch the Settings app " + app + " --open-tab=tagwright: error 2",
                                        direct}));
}

TEST(launch_settings_app, policy_refusals_are_told_apart_in_the_log_and_the_user_text)
{
    const std::wstring app = L"C:\\Program Files\\Velmora\\Velmora.exe";
    const std::pair<DWORD, bool> rows[] = {
        {1260, true},  {4551, true},  {4556, true},  {4557, true},  {4558, true},  {4559, true},  {4580, true},
        {4581, true},  {4582, true},  {0, false},    {2, false},    {5, false},    {1259, false}, {1261, false},
        {4550, false}, {4552, false}, {4555, false}, {4560, false}, {4579, false}, {4583, false},
    };
    for (const auto& [error, blocked] : rows)
    {
        SCOPED_TRACE(error);
        EXPECT_EQ(settings_app::is_blocked_by_policy(error), blocked);
        test_support::log_capture log;
        const auto e = settings_app_detail::direct_start_failure(app, L"--open-tab=pathwright", error);
        EXPECT_EQ(log.messages(), std::vector<std::string>{fmt::format(
                                      "ERROR Failed to launch the Settings app {} --open-tab=pathwright: error {} ({}){}",
                                      to_utf8(app), error, system_text(error),
                                      blocked ? " - blocked by Smart App Control or an application control policy" : "")});
        EXPECT_STREQ(e.what(), fmt::format("Unable to launch {}: error {}", to_utf8(app), error).c_str());
        EXPECT_EQ(e.code, error);
        const std::wstring reported = hresult_message(static_cast<HRESULT>(error));
        EXPECT_EQ(to_utf8(e.message),
                  to_utf8(blocked ? L"Windows blocked the Velmora Settings app from starting.\n\nSmart App Control or "
                                    L"another application control policy on this PC refused to run:\n" +
                                        app + L"\n\nWindows reported: " + reported + L" (error " +
                                        std::to_wstring(error) +
                                        L")\n\nPlease contact support and include these details (use Copy)."
                                  : L"The Velmora Settings app could not be started.\n\n" + app +
                                        L"\n\nWindows reported: " + reported + L" (error " + std::to_wstring(error) +
                                        L")"));
    }
}
} // namespace
