#pragma once
// Starting a program the way Explorer would start it, handed to the shell's automation objects. Inside
// a packaged or elevated host this lets the shell, not the host, be the parent of the new process.
//
// The program is handed to the shell itself, never to the command interpreter: cmd reads "&", "^",
// "%...%", "(", ")" and "!" in its command line, and all of them may stand in a user's temporary folder
// ("C:\Users\Tom&Jerry\AppData\Local\Temp") or an install folder. ShellExecute takes the program as a
// file and the arguments as one text that it appends, unread, to the program's quoted path (a program
// path with a "%" in it goes in its short form when that has none).

#include <windows.h>

#include <string>

// Starts `program` with `arguments`, so that its command line is "<program>" <arguments>, shown
// normally (a window the program opens is visible; a console program gets a console of its own).
// `arguments` is passed as it is: the caller quotes what needs quoting. Tries the Shell automation
// object first, then the desktop window's view. Answers true, or raises std::runtime_error "Failed to
// launch process via Explorer (ShellExecute fallback failed)." when both refuse. Initialises COM
// (single-threaded apartment) on the calling thread for the duration of the call.
bool launch_via_shell(const std::wstring& program, const std::wstring& arguments);

namespace shell_launch_detail
{
// One way of handing a file and its parameters to IShellDispatch2::ShellExecute ("open", shown normally).
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
