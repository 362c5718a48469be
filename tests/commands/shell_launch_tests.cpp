// Starting programs through the shell's automation objects, with the batch worker stand-in as the
// program so that the test sees what really arrived. Wine 8 runs both routes: the Shell object in our
// own process, and the desktop view's Application in its explorer.exe desktop process.

#include "batch_worker_records.h"
#include "commands/shell_launch.h"
#include "diagnostics/log.h"
#include "fake_shell_routes.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

using namespace test_support;

namespace
{
std::wstring system_folder()
{
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    return folder;
}

// The command line a started program sees after its own quoted name.
std::wstring expected_command_line(const std::wstring& program, const std::wstring& arguments)
{
    return L"\"" + program + L"\" " + arguments;
}
} // namespace

TEST(launch_via_shell, forms_the_interpreter_command)
{
    struct row
    {
        const char* name;
        std::wstring program;
        std::wstring arguments;
        std::wstring parameters;
    };
    const row rows[] = {
        {"plain", L"C:\\bin\\w.exe", L"C:\\t\\j.json", L"/c start \"\" \"C:\\bin\\w.exe\" C:\\t\\j.json"},
        {"blanks stay unquoted", L"C:\\Program Files\\w.exe", L"C:\\my temp\\j.json",
         L"/c start \"\" \"C:\\Program Files\\w.exe\" C:\\my temp\\j.json"},
        {"no arguments", L"w.exe", L"", L"/c start \"\" \"w.exe\" "},
        {"quoted arguments pass as given", L"w.exe", L"--open-tab=\"a b\"",
         L"/c start \"\" \"w.exe\" --open-tab=\"a b\""},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(shell_launch_detail::interpreter_parameters(r.program, r.arguments), r.parameters);
    }
    EXPECT_EQ(shell_launch_detail::interpreter_path(), system_folder() + L"\\cmd.exe");
}

TEST(launch_via_shell, starts_the_worker_through_the_shell_object)
{
    batch_worker_recorder recorder;
    const std::wstring worker = batch_worker_path().wstring();
    const std::wstring arguments = L"C:\\a folder with blanks\\velmora_x.json.tmp";

    EXPECT_TRUE(launch_via_shell(worker, arguments));

    const auto record = recorder.wait_for(arguments);
    ASSERT_TRUE(record) << "the worker stand-in never recorded a start";
    EXPECT_EQ(to_utf8(record->command_line), to_utf8(expected_command_line(worker, arguments)));
    // Started from our process: the Shell object is in-process.
    EXPECT_TRUE(record->inherited_environment);
}

TEST(launch_via_shell, desktop_view_route_starts_the_worker_from_the_shell_process)
{
    batch_worker_recorder recorder;
    const std::wstring worker = batch_worker_path().wstring();
    const std::wstring arguments = L"C:\\desktop route\\velmora_y.json.tmp";

    const HRESULT hr = shell_launch_detail::execute_through_desktop_view(
        shell_launch_detail::interpreter_path(), shell_launch_detail::interpreter_parameters(worker, arguments));
    ASSERT_EQ(hresult_bits(hr), hresult_bits(S_OK));

    const auto record = recorder.wait_for(arguments);
    ASSERT_TRUE(record) << "the worker stand-in never recorded a start";
    EXPECT_EQ(to_utf8(record->command_line), to_utf8(expected_command_line(worker, arguments)));
    // The desktop window's process started it, with its own environment.
    EXPECT_FALSE(record->inherited_environment);
}

TEST(launch_via_shell, falls_back_to_the_desktop_view_when_the_shell_object_refuses)
{
    batch_worker_recorder recorder;
    shell_routes_override override;
    override.use_real_second_route();
    const std::wstring worker = batch_worker_path().wstring();
    const std::wstring arguments = L"fallback-argument";

    EXPECT_TRUE(launch_via_shell(worker, arguments));

    ASSERT_EQ(override.routes().first_calls.size(), 1u);
    EXPECT_EQ(override.routes().first_calls[0].file, system_folder() + L"\\cmd.exe");
    EXPECT_EQ(override.routes().first_calls[0].parameters,
              shell_launch_detail::interpreter_parameters(worker, arguments));
    const auto record = recorder.wait_for(arguments);
    ASSERT_TRUE(record) << "the fallback did not start the worker";
    EXPECT_FALSE(record->inherited_environment);
}

TEST(launch_via_shell, raises_when_both_routes_refuse)
{
    shell_routes_override override;
    override.routes().first_answer = E_NOINTERFACE;
    override.routes().second_answer = S_FALSE;
    try
    {
        launch_via_shell(L"C:\\bin\\w.exe", L"x");
        FAIL() << "no exception";
    }
    catch (const std::runtime_error& e)
    {
        EXPECT_STREQ(e.what(), "Failed to launch process via Explorer (ShellExecute fallback failed).");
    }
    EXPECT_EQ(override.routes().first_calls.size(), 1u);
    ASSERT_EQ(override.routes().second_calls.size(), 1u);
    EXPECT_EQ(override.routes().second_calls[0].parameters, L"/c start \"\" \"C:\\bin\\w.exe\" x");
}

TEST(launch_via_shell, second_route_is_not_tried_after_the_first_succeeds)
{
    shell_routes_override override;
    override.routes().first_answer = S_OK;
    EXPECT_TRUE(launch_via_shell(L"w.exe", L"x"));
    EXPECT_EQ(override.routes().first_calls.size(), 1u);
    EXPECT_EQ(override.routes().second_calls.size(), 0u);
}

// Explorer's UI thread is a single-threaded apartment already; a launch must leave it initialised, and
// must leave a thread without COM as it found it.
TEST(launch_via_shell, balances_its_own_com_initialisation)
{
    struct row
    {
        const char* name;
        bool caller_has_com;
        DWORD caller_init;
        APTTYPE apartment_seen;
    };
    const row rows[] = {
        {"no COM on the thread", false, 0, APTTYPE_STA},
        {"single-threaded caller", true, COINIT_APARTMENTTHREADED, APTTYPE_STA},
        {"multi-threaded caller", true, COINIT_MULTITHREADED, APTTYPE_MTA},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        shell_routes_override override;
        override.routes().first_answer = S_OK;
        HRESULT before = E_FAIL, after = E_FAIL;
        std::thread([&] {
            if (r.caller_has_com)
                CoInitializeEx(nullptr, r.caller_init);
            APTTYPE type{};
            APTTYPEQUALIFIER qualifier{};
            before = CoGetApartmentType(&type, &qualifier);
            launch_via_shell(L"w.exe", L"x");
            after = CoGetApartmentType(&type, &qualifier);
            if (r.caller_has_com)
                CoUninitialize();
        }).join();
        ASSERT_EQ(override.routes().first_calls.size(), 1u);
        EXPECT_EQ(hresult_bits(override.routes().first_calls[0].apartment_result), hresult_bits(S_OK));
        EXPECT_EQ(override.routes().first_calls[0].apartment, r.apartment_seen);
        EXPECT_EQ(hresult_bits(after), hresult_bits(before));
        if (!r.caller_has_com)
        {
            EXPECT_EQ(hresult_bits(after), hresult_bits(CO_E_NOTINITIALIZED));
        }
    }
}
