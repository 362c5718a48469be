#pragma once
// Starting a program the way Explorer would start it, through the command interpreter handed to the
// shell's automation objects. Inside a packaged or elevated host this lets the shell, not the host,
// be the parent of the new process.

#include <windows.h>

#include <string>

// Starts `program` with `arguments` as "<system folder>\cmd.exe" /c start "" "<program>" <arguments>,
// hidden. `arguments` is passed as it is: the caller quotes what needs quoting. Tries the Shell
// automation object first, then the desktop window's view. Answers true, or raises std::runtime_error
// "Failed to launch process via Explorer (ShellExecute fallback failed)." when both refuse.
// Initialises COM (single-threaded apartment) on the calling thread for the duration of the call.
bool launch_via_shell(const std::wstring& program, const std::wstring& arguments);

namespace shell_launch_detail
{
// The interpreter: the system folder followed by "\cmd.exe", or plain "cmd.exe".
std::wstring interpreter_path();
// The interpreter's parameters for `program` and `arguments`.
std::wstring interpreter_parameters(const std::wstring& program, const std::wstring& arguments);

// One way of handing a file and its parameters to IShellDispatch2::ShellExecute ("open", hidden).
// Each answers the failing HRESULT, or S_OK when the shell accepted the start.
using shell_execute_route = HRESULT (*)(const std::wstring& file, const std::wstring& parameters);
// CLSID_Shell in any server context.
HRESULT execute_through_shell_object(const std::wstring& file, const std::wstring& parameters);
// The desktop window of ShellWindows: its browser's active view, the view's background automation
// object, and that object's Application.
HRESULT execute_through_desktop_view(const std::wstring& file, const std::wstring& parameters);

struct shell_routes
{
    shell_execute_route first;
    shell_execute_route second;
};
// Replaces the two routes (tests simulate a shell that refuses); answers the routes in use before.
shell_routes replace_shell_routes(shell_routes routes) noexcept;
} // namespace shell_launch_detail
