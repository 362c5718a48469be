#include "base/module_folder.h"

#include <shlwapi.h>

#include <vector>

std::wstring module_folder(HMODULE module)
{
    // Long-path-aware hosts can load us from a path beyond MAX_PATH; the first call then reports a
    // truncated name and ERROR_INSUFFICIENT_BUFFER.
    std::vector<wchar_t> buffer(MAX_PATH, L'\0');
    DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == buffer.size() && GetLastError() == ERROR_INSUFFICIENT_BUFFER)
    {
        buffer.assign(65535, L'\0');
        length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    }
    if (length == 0 || length >= buffer.size())
        return {};
    buffer[length] = L'\0';
    PathRemoveFileSpecW(buffer.data());
    return std::wstring(buffer.data());
}

std::wstring join_path(std::wstring folder, std::wstring_view name)
{
    const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    if (!folder.empty())
    {
        while (!name.empty() && separator(name.front()))
            name.remove_prefix(1);
        // Paths that begin with \\?\ are taken literally: a doubled separator there names no file.
        if (!separator(folder.back()))
            folder += L'\\';
    }
    folder += name;
    return folder;
}
