#include "commands/settings_app_launcher.h"

#include "base/log.h"
#include "base/module_folder.h"
#include "base/namespace_module.h"
#include "commands/shell_launch.h"

#include <shlobj.h>

#include <atomic>

namespace
{
using settings_app_detail::launch_route;

// GetCurrentPackageFullName is missing from Windows 7's kernel32 and from the mingw headers; a static
// import would keep the DLL from loading there. A missing export counts as no package.
bool host_has_package_identity() noexcept
{
    using get_current_package_full_name = LONG(WINAPI*)(UINT32*, PWSTR);
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const auto get = kernel32 ? reinterpret_cast<get_current_package_full_name>(reinterpret_cast<void*>(
                                    GetProcAddress(kernel32, "GetCurrentPackageFullName")))
                              : nullptr;
    if (!get)
        return false;
    UINT32 length = 0;
    return get(&length, nullptr) != APPMODEL_ERROR_NO_PACKAGE;
}

std::atomic<settings_app_detail::route_choice> chosen_route{&settings_app_detail::host_route};

// CreateProcessW may write into the command line, so it gets its own copy.
bool create_process(std::wstring command_line, DWORD flags, const wchar_t* directory)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, flags, nullptr, directory, &startup,
                        &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}
} // namespace

namespace settings_app
{
bool is_blocked_by_policy(DWORD error) noexcept
{
    switch (error)
    {
    case 1260: // ERROR_ACCESS_DISABLED_BY_POLICY
    case 4551: // ERROR_SYSTEM_INTEGRITY_POLICY_VIOLATION
    case 4556: // ERROR_SYSTEM_INTEGRITY_ROLLBACK_DETECTED
    case 4557: // ERROR_SYSTEM_INTEGRITY_POLICY_EXPIRED
    case 4558: // ERROR_SYSTEM_INTEGRITY_SUPPLEMENTAL_POLICY_NOT_AUTHORIZED
    case 4559: // ERROR_SYSTEM_INTEGRITY_REPUTATION_MALICIOUS
    case 4580: // ERROR_SYSTEM_INTEGRITY_REPUTATION_PUA
    case 4581: // ERROR_SYSTEM_INTEGRITY_REPUTATION_DANGEROUS_EXT
    case 4582: // ERROR_SYSTEM_INTEGRITY_REPUTATION_OFFLINE
        return true;
    default:
        return false;
    }
}
} // namespace settings_app

namespace settings_app_detail
{
launch_route host_route() noexcept
{
    return !host_has_package_identity() && !IsUserAnAdmin() ? launch_route::direct : launch_route::shell;
}

route_choice replace_route_choice(route_choice choice) noexcept
{
    return chosen_route.exchange(choice);
}

std::wstring user_message(const std::wstring& executable, DWORD error)
{
    const std::wstring reported = hresult_message(static_cast<HRESULT>(error));
    if (settings_app::is_blocked_by_policy(error))
        return fmt::format(L"Windows blocked the Velmora Settings app from starting.\n\nSmart App Control or another "
                           L"application control policy on this PC refused to run:\n{}\n\nWindows reported: {} "
                           L"(error {})\n\nPlease contact support and include these details (use Copy).",
                           executable, reported, error);
    return fmt::format(L"The Velmora Settings app could not be started.\n\n{}\n\nWindows reported: {} (error {})",
                       executable, reported, error);
}

settings_app::launch_error direct_start_failure(const std::wstring& executable, const std::wstring& arguments,
                                                DWORD error)
{
    log_message(log_level::error, L"Failed to launch the Settings app {} {}: error {} ({}){}", executable, arguments,
                error, hresult_message(static_cast<HRESULT>(error)),
                settings_app::is_blocked_by_policy(error)
                    ? L" - blocked by Smart App Control or an application control policy"
                    : L"");
    return settings_app::launch_error(fmt::format("Unable to launch {}: error {}", to_utf8(executable), error), error,
                                      user_message(executable, error));
}
} // namespace settings_app_detail

void launch_settings_app(std::string_view tab)
{
    const std::wstring folder = module_folder(module_instance);
    const std::wstring executable = join_path(folder, settings_app_detail::executable_name);
    const std::wstring arguments = L"--open-tab=" + from_utf8(tab);
    const std::wstring command_line = fmt::format(L"\"{}\" {}", executable, arguments);

    if (chosen_route.load()() == launch_route::direct)
    {
        // The app starts in its own folder, wherever the host was started from.
        if (create_process(command_line, 0, folder.empty() ? nullptr : folder.c_str()))
            return;
        const DWORD error = GetLastError();
        if (error == 0)
            return;
        throw settings_app_detail::direct_start_failure(executable, arguments, error);
    }

    // A packaged or elevated host hands the start to the shell, so the app runs as the user's Explorer
    // would start it: outside the package, not elevated.
    try
    {
        if (launch_via_shell(executable, arguments))
            return;
    }
    catch (const std::exception&)
    {
        // Both shell ways refused: the detached start below is the last resort.
    }
    if (create_process(command_line, DETACHED_PROCESS, nullptr))
        return;
    const DWORD error = GetLastError();
    log_message(log_level::error, L"Failed to launch the Settings app {} {}: error {}", executable, arguments, error);
    throw settings_app::launch_error(fmt::format("Unable to launch {}", to_utf8(executable)), error,
                                     settings_app_detail::user_message(executable, error));
}
