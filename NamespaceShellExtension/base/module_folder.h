#pragma once
// The folder that holds a module: where the suite installs its companion programs (the batch worker,
// the Settings app) beside this DLL.

#include <windows.h>

#include <string>

// GetModuleFileNameW of `module` (null: the process's executable) without its last component, as
// PathRemoveFileSpecW leaves it: no trailing backslash except on a drive root ("C:\"). Empty when the
// module's name cannot be read.
std::wstring module_folder(HMODULE module);

// `folder` and `name` with exactly one separator between them: a backslash is added unless `folder` ends
// in one (a drive root, C:\), and separators that `name` starts with are dropped. An empty `folder`
// gives `name` unchanged.
std::wstring join_path(std::wstring folder, std::wstring_view name);
