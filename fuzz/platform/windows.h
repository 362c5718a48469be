#pragma once
// The Windows types and functions that the product's readers and name builders touch, for their native
// fuzz build (see scripts/fuzz.sh). Types have their Windows sizes; the functions are defined in
// platform.cpp with the behaviour Windows documents for the way the product calls them.

#include <cstddef>
#include <cstdint>

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using LONG = std::int32_t;
using HRESULT = LONG;
using HANDLE = void*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
using LPWSTR = wchar_t*;
using LPCWSTR = const wchar_t*;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define CP_UTF8 65001u
#define ERROR_SUCCESS 0L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_PARAMETER 87L
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))

union LARGE_INTEGER
{
    struct
    {
        DWORD LowPart;
        LONG HighPart;
    } u;
    long long QuadPart;
};

struct GUID
{
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};

DWORD GetLastError() noexcept;
void SetLastError(DWORD error) noexcept;
// CP_UTF8 only, flags 0: ill-formed input becomes U+FFFD, as Windows does since Vista.
int WideCharToMultiByte(UINT code_page, DWORD flags, const wchar_t* wide, int wide_length, char* narrow,
                        int narrow_size, const char* default_char, BOOL* used_default_char) noexcept;
int MultiByteToWideChar(UINT code_page, DWORD flags, const char* narrow, int narrow_length, wchar_t* wide,
                        int wide_size) noexcept;
// Over a fixed environment (platform.cpp), names compared ignoring case, unknown names left as written.
DWORD ExpandEnvironmentStringsW(const wchar_t* source, wchar_t* destination, DWORD size) noexcept;
// Every module is "C:\Program Files\Quenbrook\Velmora\Sortwell.NamespaceShellExtension.dll".
DWORD GetModuleFileNameW(HMODULE module, wchar_t* file_name, DWORD size) noexcept;
