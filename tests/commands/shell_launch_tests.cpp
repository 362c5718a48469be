// Starting programs through the shell's automation objects, with the batch worker stand-in as the
// program so that the test sees what really arrived. Wine 8 runs both routes: the Shell object in our
// own process, and the desktop view's Application in its explorer.exe desktop process.

#include "commands/batch_job.h"
#include "commands/settings_app_launcher.h"

#include "commands_test_support.h"
#include "settings_app_recorder.h"

#include "base/namespace_module.h"
#include "base/raii.h"

#include <gtest/gtest.h>

#include <exdisp.h>
#include <shldisp.h>

#include <optional>
#include <thread>
#include <utility>

using namespace commands_test;

namespace
{
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

// This module as if it lay in `folder` beside the worker and the Settings app, for its lifetime: a copy
// of the worker stand-in there, mapped without being run.
class module_in_folder
{
public:
    explicit module_in_folder(const std::filesystem::path& folder)
    {
        std::filesystem::create_directories(folder);
        std::filesystem::copy_file(batch_worker_path(), folder / batch_worker_file_name);
        std::filesystem::copy_file(settings_app_test::settings_app_path(), folder / L"Velmora.exe");
        module = LoadLibraryExW((folder / batch_worker_file_name).c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
        previous_ = std::exchange(module_instance, module);
    }
    ~module_in_folder()
    {
        module_instance = previous_;
        if (module)
            FreeLibrary(module);
    }
    module_in_folder(const module_in_folder&) = delete;
    module_in_folder& operator=(const module_in_folder&) = delete;

    HMODULE module = nullptr;

private:
    HINSTANCE previous_ = nullptr;
};

// The program a recorded command line started: its quoted first part, in its long form.
std::wstring program_of(const std::wstring& command_line)
{
    const std::size_t end = command_line.find(L'"', 1);
    if (command_line.empty() || command_line[0] != L'"' || end == std::wstring::npos)
        return {};
    const std::wstring program = command_line.substr(1, end - 1);
    std::wstring long_path(GetLongPathNameW(program.c_str(), nullptr, 0), L'\0');
    long_path.resize(GetLongPathNameW(program.c_str(), long_path.data(), static_cast<DWORD>(long_path.size())));
    return long_path;
}

// Temporary and install folders may be called anything a user or folder may be called, and cmd would
// read much of it ("&" ends a command, "^" escapes, "%TEMP%" expands, "(1)" and "!" mean something of
// their own): by either shell route the worker gets exactly its job file's path as its arguments, unquoted
// after its quoted path, and the Settings app its tab, each started from the install folder (a path with
// "%" in its short form). The Shell object starts them from our process, the desktop view (taken when the
// Shell object refuses) from the desktop's, without our environment.
TEST(launch_via_shell, arguments_arrive_unchanged_whatever_the_folders_are_called)
{
    ASSERT_TRUE(desktop_ready()) << "the desktop's explorer.exe never offered the shell windows";
    for (const wchar_t* name : {L"Tom&Jerry", L"^x %TEMP% (1)!", L"Tom&Jerry ^x %TEMP% (1)! \u00e9"})
    {
        SCOPED_TRACE(to_utf8(name));
        test_support::scratch_folder scratch(name);
        const auto install = scratch.path() / L"Velmora";
        const auto temp = scratch.path() / L"Temp";
        std::filesystem::create_directories(temp);
        const module_in_folder beside(install);
        ASSERT_TRUE(beside.module);
        for (const bool desktop_view : {false, true})
        {
            SCOPED_TRACE(desktop_view ? "the desktop view" : "the Shell object");
            std::optional<shell_routes_override> routes;
            if (desktop_view)
                routes.emplace().use_real_second_route();
            {
                batch_worker_recorder recorder(install);
                {
                    const temp_folder_override temp_override(temp);
                    submit_batch_job(beside.module, {L"C:\\x.txt"}, action_type::set_rating, L"5");
                }
                const auto records = recorder.wait_for(1);
                ASSERT_EQ(records.size(), 1u) << "the worker stand-in never recorded a start";
                const std::filesystem::path job = records[0].arguments;
                EXPECT_EQ(to_utf8(job.parent_path().wstring()), to_utf8(temp.wstring()));
                EXPECT_EQ(to_utf8(program_of(records[0].command_line)), to_utf8((install / batch_worker_file_name).wstring()));
                EXPECT_TRUE(records[0].command_line.ends_with(L"\" " + job.wstring())) << to_utf8(records[0].command_line);
                EXPECT_TRUE(records[0].job_file) << "the worker could not read its job";
                EXPECT_EQ(records[0].inherited_environment, !desktop_view);
            }
            settings_app_test::settings_app_recorder recorder(install);
            launch_settings_app("pathwright");
            const auto records = recorder.wait_for(1);
            ASSERT_EQ(records.size(), 1u) << "the Settings app stand-in never recorded a start";
            EXPECT_EQ(to_utf8(program_of(records[0].command_line)), to_utf8((install / L"Velmora.exe").wstring()));
            EXPECT_TRUE(records[0].command_line.ends_with(L"\" --open-tab=pathwright")) << to_utf8(records[0].command_line);
            EXPECT_EQ(records[0].inherited_environment, !desktop_view);
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
