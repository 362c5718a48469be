// Starting programs through the shell's automation objects, with the batch worker stand-in as the
// program so that the test sees what really arrived. Wine 8 runs both routes: the Shell object in our
// own process, and the desktop view's Application in its explorer.exe desktop process.

#include "commands_test_support.h"

#include "module/raii.h"

#include <gtest/gtest.h>

#include <exdisp.h>
#include <shldisp.h>

#include <stdexcept>
#include <thread>

using namespace commands_test;

namespace
{
std::wstring system_folder()
{
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    return folder;
}

TEST(launch_via_shell, forms_the_interpreter_command)
{
    const std::tuple<std::wstring, std::wstring, std::wstring> rows[] = {
        {L"C:\\bin\\w.exe", L"C:\\t\\j.json", L"/c start \"\" \"C:\\bin\\w.exe\" C:\\t\\j.json"},
        {L"C:\\Program Files\\w.exe", L"C:\\my temp\\j.json",
         L"/c start \"\" \"C:\\Program Files\\w.exe\" C:\\my temp\\j.json"},
        {L"w.exe", L"", L"/c start \"\" \"w.exe\" "},
        {L"w.exe", L"--open-tab=\"a b\"", L"/c start \"\" \"w.exe\" --open-tab=\"a b\""},
    };
    for (const auto& [program, arguments, parameters] : rows)
    {
        SCOPED_TRACE(to_utf8(program + L" " + arguments));
        EXPECT_EQ(shell_launch_detail::interpreter_parameters(program, arguments), parameters);
    }
    EXPECT_EQ(shell_launch_detail::interpreter_path(), system_folder() + L"\\cmd.exe");
}

// The desktop's explorer.exe offers the shell windows' class only once it has started, which a busy
// machine may take seconds to do after the first window of the run; the routes are tested from then on.
bool desktop_ready()
{
    GetDesktopWindow();
    for (int attempt = 0; attempt < 300; ++attempt)
    {
        com_ptr<IShellWindows> windows;
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_ALL, IID_IShellWindows, windows.put_void())))
            return true;
        Sleep(100);
    }
    return false;
}

// Each real route starts the worker with the arguments unquoted after its quoted path; the Shell object
// does it from our process, the desktop view from the desktop's, without our environment.
TEST(launch_via_shell, each_route_starts_the_worker)
{
    const std::wstring worker = batch_worker_path().wstring();
    const std::wstring arguments = L"C:\\a folder with blanks\\velmora_x.json.tmp";
    const std::wstring command_line = L"\"" + worker + L"\" " + arguments;
    ASSERT_TRUE(desktop_ready()) << "the desktop's explorer.exe never offered the shell windows";
    {
        SCOPED_TRACE("the Shell object");
        batch_worker_recorder recorder;
        EXPECT_TRUE(launch_via_shell(worker, arguments));
        const auto records = recorder.wait_for(1);
        ASSERT_EQ(records.size(), 1u) << "the worker stand-in never recorded a start";
        EXPECT_EQ(to_utf8(records[0].command_line), to_utf8(command_line));
        EXPECT_TRUE(records[0].inherited_environment);
    }
    {
        SCOPED_TRACE("the desktop view");
        batch_worker_recorder recorder;
        EXPECT_EQ(hresult_bits(shell_launch_detail::execute_through_desktop_view(
                      shell_launch_detail::interpreter_path(),
                      shell_launch_detail::interpreter_parameters(worker, arguments))),
                  hresult_bits(S_OK));
        const auto records = recorder.wait_for(1);
        ASSERT_EQ(records.size(), 1u) << "the worker stand-in never recorded a start";
        EXPECT_EQ(to_utf8(records[0].command_line), to_utf8(command_line));
        EXPECT_FALSE(records[0].inherited_environment);
    }
    {
        SCOPED_TRACE("the desktop view when the Shell object refuses");
        batch_worker_recorder recorder;
        shell_routes_override routes;
        routes.use_real_second_route();
        EXPECT_TRUE(launch_via_shell(worker, arguments));
        ASSERT_EQ(routes.first_calls.size(), 1u);
        EXPECT_EQ(routes.first_calls[0].file, system_folder() + L"\\cmd.exe");
        EXPECT_EQ(routes.first_calls[0].parameters, shell_launch_detail::interpreter_parameters(worker, arguments));
        const auto records = recorder.wait_for(1);
        ASSERT_EQ(records.size(), 1u) << "the fallback did not start the worker";
        EXPECT_FALSE(records[0].inherited_environment);
    }
}

TEST(launch_via_shell, tries_the_second_route_only_after_the_first_refuses)
{
    const std::tuple<HRESULT, HRESULT, std::size_t, bool> rows[] = {
        {S_OK, E_ACCESSDENIED, 0, true},
        {E_NOINTERFACE, S_OK, 1, true},
        {E_NOINTERFACE, S_FALSE, 1, false},
    };
    for (const auto& [first, second, second_calls, started] : rows)
    {
        SCOPED_TRACE(fmt::format("0x{:08X} 0x{:08X}", hresult_bits(first), hresult_bits(second)));
        shell_routes_override routes;
        routes.first_answer = first;
        routes.second_answer = second;
        bool answer = false;
        std::string error;
        try
        {
            answer = launch_via_shell(L"C:\\bin\\w.exe", L"x");
        }
        catch (const std::runtime_error& e)
        {
            error = e.what();
        }
        EXPECT_EQ(answer, started);
        EXPECT_EQ(error, started ? "" : "Failed to launch process via Explorer (ShellExecute fallback failed).");
        EXPECT_EQ(routes.first_calls.size(), 1u);
        ASSERT_EQ(routes.second_calls.size(), second_calls);
        if (second_calls)
        {
            EXPECT_EQ(routes.second_calls[0].parameters, L"/c start \"\" \"C:\\bin\\w.exe\" x");
        }
    }
}

// Explorer's UI thread is a single-threaded apartment already; a launch must leave it initialised, and
// must leave a thread without COM as it found it.
TEST(launch_via_shell, balances_its_own_com_initialisation)
{
    const std::tuple<const char*, std::optional<DWORD>, APTTYPE> rows[] = {
        {"no COM on the thread", std::nullopt, APTTYPE_STA},
        {"single-threaded caller", COINIT_APARTMENTTHREADED, APTTYPE_STA},
        {"multi-threaded caller", COINIT_MULTITHREADED, APTTYPE_MTA},
    };
    for (const auto& [name, caller_init, apartment_seen] : rows)
    {
        SCOPED_TRACE(name);
        shell_routes_override routes;
        routes.first_answer = S_OK;
        HRESULT before = E_FAIL, after = E_FAIL;
        std::thread([&] {
            if (caller_init)
                CoInitializeEx(nullptr, *caller_init);
            APTTYPE type{};
            APTTYPEQUALIFIER qualifier{};
            before = CoGetApartmentType(&type, &qualifier);
            launch_via_shell(L"w.exe", L"x");
            after = CoGetApartmentType(&type, &qualifier);
            if (caller_init)
                CoUninitialize();
        }).join();
        ASSERT_EQ(routes.first_calls.size(), 1u);
        EXPECT_EQ(hresult_bits(routes.first_calls[0].apartment_result), hresult_bits(S_OK));
        EXPECT_EQ(routes.first_calls[0].apartment, apartment_seen);
        EXPECT_EQ(hresult_bits(after), hresult_bits(caller_init ? before : CO_E_NOTINITIALIZED));
    }
}
} // namespace
