#pragma once
// Starting the suite's Settings app, "Velmora.exe" beside this module, on one of its tabs
// ("--open-tab=<tab>"). The extension has no settings UI of its own; its configuration commands
// ("Customize navigation", the folder-item menu's tags command) lead there.

#include <windows.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace settings_app
{
// The Settings app could not be started. what() is "Unable to launch <path>: error <code>" (direct
// start) or "Unable to launch <path>" (shell start and its fallback). The folder-item menu's "Customize
// Sortwell" answers HRESULT_FROM_WIN32(code), or E_FAIL when code is 0; the roots' "Customize navigation"
// answers E_FAIL for any failure.
class launch_error : public std::runtime_error
{
public:
    launch_error(const std::string& what, std::uint32_t code, std::wstring message)
        : std::runtime_error(what), code(code), message(std::move(message))
    {
    }

    // The Win32 error of the failed start.
    std::uint32_t code;
    // The text meant for the user: "Windows blocked the Velmora Settings app..." for a refusal by Smart
    // App Control or another application control policy, else "The Velmora Settings app could not be
    // started...".
    std::wstring message;
};

// True for the errors with which a group, software-restriction, code-integrity or reputation policy
// refuses to run a program: 1260, 4551, 4556 to 4559, 4580 to 4582.
bool is_blocked_by_policy(DWORD error) noexcept;
} // namespace settings_app

// Starts the Settings app on `tab` and returns once it was started; raises settings_app::launch_error
// when it could not be (std::bad_alloc when memory runs out). An unpackaged, non-elevated host starts
// it directly; a packaged or elevated host hands the start to the shell, so the app runs as the user's
// Explorer would run it, falling back to a detached start.
void launch_settings_app(std::string_view tab);

namespace settings_app_detail
{
inline constexpr wchar_t executable_name[] = L"Velmora.exe";

enum class launch_route
{
    direct, // CreateProcessW from this process, working directory the app's folder
    shell,  // launch_via_shell, then a detached CreateProcessW
};

// The route this host calls for: direct when the process has no package identity and the user is not
// an administrator, else the shell.
launch_route host_route() noexcept;

// Replaces the route choice (tests run both routes on a host that always calls for one); answers the
// choice in use before.
using route_choice = launch_route (*)() noexcept;
route_choice replace_route_choice(route_choice choice) noexcept;

// The user text for a failed start of `executable` with `error`.
std::wstring user_message(const std::wstring& executable, DWORD error);

// A refused direct start: logs "Failed to launch the Settings app <path> <arguments>: error <E>
// (<system text>)", with " - blocked by Smart App Control or an application control policy" for a
// policy refusal, and answers the exception to raise.
settings_app::launch_error direct_start_failure(const std::wstring& executable, const std::wstring& arguments,
                                                DWORD error);
} // namespace settings_app_detail
