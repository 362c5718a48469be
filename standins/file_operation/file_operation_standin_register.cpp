// Registers the FileOperation stand-in in the current Wine prefix, in place of Wine's stub:
//   file_operation_standin_register [register | unregister]
// "unregister" gives the class back to Wine's shell32.

#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    const std::wstring action = argc > 1 ? argv[1] : L"register";
    if (argc > 2 || (action != L"register" && action != L"unregister"))
    {
        std::fprintf(stderr, "usage: file_operation_standin_register [register | unregister]\n");
        return 2;
    }
    wchar_t path[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    std::wstring dll = path;
    dll.erase(dll.find_last_of(L"\\/") + 1);
    dll += L"velmora_file_operation_standin.dll";

    HMODULE module = LoadLibraryW(dll.c_str());
    if (!module)
    {
        std::fprintf(stderr, "file_operation_standin_register: cannot load the stand-in (%lu)\n", GetLastError());
        return 1;
    }
    using entry = HRESULT(STDAPICALLTYPE*)();
    const auto function = reinterpret_cast<entry>(reinterpret_cast<void*>(
        GetProcAddress(module, action == L"register" ? "DllRegisterServer" : "DllUnregisterServer")));
    const HRESULT hr = function ? function() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    FreeLibrary(module);
    if (FAILED(hr))
    {
        std::fprintf(stderr, "file_operation_standin_register: failed with HRESULT 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    std::printf("file_operation_standin_register: %ls done\n", action.c_str());
    return 0;
}
