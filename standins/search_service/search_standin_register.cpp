// Registers the search stand-in in the current Wine prefix (or Windows test machine):
//   search_standin_register [register | unregister] [--index <index file>]
// "register" calls the DLL's DllRegisterServer (the DLL lies beside this program) and, with --index,
// stores the index file in HKCU\Software\Velmora Search Stand-in\IndexFile for processes that do not
// get VELMORA_SEARCH_INDEX in their environment (Explorer in the demo). "unregister" undoes both.

#include "search_standin_counters.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace
{
constexpr wchar_t settings_key[] = L"Software\\Velmora Search Stand-in";

std::wstring dll_path()
{
    wchar_t path[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    std::wstring result = path;
    result.erase(result.find_last_of(L"\\/") + 1);
    return result + search_standin_dll_name;
}

int fail(const char* what, HRESULT hr)
{
    std::fprintf(stderr, "search_standin_register: %s failed with HRESULT 0x%08lX\n", what, static_cast<unsigned long>(hr));
    return 1;
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    bool do_register = true;
    std::wstring index;
    for (int i = 1; i < argc; ++i)
    {
        const std::wstring argument = argv[i];
        if (argument == L"register")
            do_register = true;
        else if (argument == L"unregister")
            do_register = false;
        else if (argument == L"--index" && i + 1 < argc)
            index = argv[++i];
        else
        {
            std::fprintf(stderr, "usage: search_standin_register [register | unregister] [--index <index file>]\n");
            return 2;
        }
    }
    const std::wstring path = dll_path();
    HMODULE dll = LoadLibraryW(path.c_str());
    if (!dll)
        return fail("LoadLibrary of velmora_search_standin.dll", HRESULT_FROM_WIN32(GetLastError()));
    using entry = HRESULT(STDAPICALLTYPE*)();
    auto function = reinterpret_cast<entry>(reinterpret_cast<void*>(
        GetProcAddress(dll, do_register ? "DllRegisterServer" : "DllUnregisterServer")));
    const HRESULT hr = function ? function() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    FreeLibrary(dll);
    if (FAILED(hr))
        return fail(do_register ? "DllRegisterServer" : "DllUnregisterServer", hr);

    if (do_register && !index.empty())
    {
        const LSTATUS status = RegSetKeyValueW(HKEY_CURRENT_USER, settings_key, L"IndexFile", REG_SZ, index.c_str(),
                                               static_cast<DWORD>((index.size() + 1) * sizeof(wchar_t)));
        if (status != ERROR_SUCCESS)
            return fail("storing the index file", HRESULT_FROM_WIN32(status));
    }
    else if (!do_register)
    {
        const LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, settings_key);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            return fail("removing the index file setting", HRESULT_FROM_WIN32(status));
    }
    std::printf("search_standin_register: %s\n", do_register ? "registered" : "unregistered");
    return 0;
}
