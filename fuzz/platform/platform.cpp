// The system under the native fuzz build: 16-bit wide-character functions for -fshort-wchar, the
// Windows functions of windows.h and shlwapi.h, and a log that keeps its lines in memory.

#include "platform.h"

#include "base/log.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <string_view>

extern "C"
{
std::size_t fuzz_wcslen(const wchar_t* text) noexcept
{
    std::size_t length = 0;
    while (text[length] != L'\0')
        ++length;
    return length;
}

std::size_t fuzz_wcsnlen(const wchar_t* text, std::size_t limit) noexcept
{
    std::size_t length = 0;
    while (length < limit && text[length] != L'\0')
        ++length;
    return length;
}

wchar_t* fuzz_wmemcpy(wchar_t* to, const wchar_t* from, std::size_t count) noexcept
{
    if (count != 0)
        std::memcpy(to, from, count * sizeof(wchar_t));
    return to;
}

wchar_t* fuzz_wmemmove(wchar_t* to, const wchar_t* from, std::size_t count) noexcept
{
    if (count != 0)
        std::memmove(to, from, count * sizeof(wchar_t));
    return to;
}

wchar_t* fuzz_wmemset(wchar_t* to, wchar_t unit, std::size_t count) noexcept
{
    for (std::size_t i = 0; i < count; ++i)
        to[i] = unit;
    return to;
}

int fuzz_wmemcmp(const wchar_t* a, const wchar_t* b, std::size_t count) noexcept
{
    for (std::size_t i = 0; i < count; ++i)
    {
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

wchar_t* fuzz_wmemchr(const wchar_t* text, wchar_t unit, std::size_t count) noexcept
{
    for (std::size_t i = 0; i < count; ++i)
    {
        if (text[i] == unit)
            return const_cast<wchar_t*>(text + i);
    }
    return nullptr;
}

int fuzz_vswprintf(wchar_t* to, std::size_t size, const wchar_t* format, va_list arguments) noexcept
{
    char narrow_format[32];
    std::size_t i = 0;
    for (; format[i] != L'\0'; ++i)
    {
        if (i + 1 >= sizeof narrow_format || format[i] > 0x7F)
            return -1;
        narrow_format[i] = static_cast<char>(format[i]);
    }
    narrow_format[i] = '\0';
    char text[512];
    const int length = std::vsnprintf(text, sizeof text, narrow_format, arguments);
    if (length < 0 || static_cast<std::size_t>(length) >= size || static_cast<std::size_t>(length) >= sizeof text)
        return -1;
    for (int k = 0; k <= length; ++k)
        to[k] = static_cast<unsigned char>(text[k]);
    return length;
}
}

namespace
{
thread_local DWORD last_error = 0;

constexpr std::u16string_view module_file = u"C:\\Program Files\\Quenbrook\\Velmora\\Sortwell.NamespaceShellExtension.dll";

struct variable
{
    std::wstring_view name;
    std::wstring_view value;
};

// The environment the fuzzers resolve against. One value holds a placeholder itself: the system does
// not expand it again.
constexpr variable environment[] = {
    {L"USERPROFILE", L"C:\\Users\\Fuzz"},
    {L"LOCALAPPDATA", L"C:\\Users\\Fuzz\\AppData\\Local"},
    {L"APPDATA", L"C:\\Users\\Fuzz\\AppData\\Roaming"},
    {L"TEMP", L"C:\\Users\\Fuzz\\AppData\\Local\\Temp"},
    {L"SystemRoot", L"C:\\Windows"},
    {L"PERCENT", L"%USERPROFILE%"},
    {L"EMPTY", L""},
};

bool equal_ignoring_case(std::wstring_view a, std::wstring_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
    {
        if (std::towupper(a[i]) != std::towupper(b[i]))
            return false;
    }
    return true;
}

// UTF-16 code points; an unpaired surrogate reads as U+FFFD.
template <class Emit>
void decode_utf16(const wchar_t* text, std::size_t length, Emit emit)
{
    for (std::size_t i = 0; i < length; ++i)
    {
        const char32_t unit = static_cast<char16_t>(text[i]);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
        {
            emit(0x10000 + ((unit - 0xD800) << 10) + (static_cast<char16_t>(text[i + 1]) - 0xDC00));
            ++i;
        }
        else if (unit >= 0xD800 && unit <= 0xDFFF)
            emit(0xFFFD);
        else
            emit(unit);
    }
}
} // namespace

DWORD GetLastError() noexcept
{
    return last_error;
}

void SetLastError(DWORD error) noexcept
{
    last_error = error;
}

int WideCharToMultiByte(UINT code_page, DWORD flags, const wchar_t* wide, int wide_length, char* narrow,
                        int narrow_size, const char*, BOOL*) noexcept
{
    if (code_page != CP_UTF8 || flags != 0 || !wide || wide_length == 0 || narrow_size < 0)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::size_t length = wide_length < 0 ? fuzz_wcslen(wide) + 1 : static_cast<std::size_t>(wide_length);
    std::string bytes;
    decode_utf16(wide, length, [&](char32_t c) {
        if (c < 0x80)
            bytes += static_cast<char>(c);
        else if (c < 0x800)
            bytes += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
        else if (c < 0x10000)
            bytes += {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                      static_cast<char>(0x80 | (c & 0x3F))};
        else
            bytes += {static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
                      static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
    });
    if (narrow_size == 0)
        return static_cast<int>(bytes.size());
    if (bytes.size() > static_cast<std::size_t>(narrow_size))
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(narrow, bytes.data(), bytes.size());
    return static_cast<int>(bytes.size());
}

int MultiByteToWideChar(UINT code_page, DWORD flags, const char* narrow, int narrow_length, wchar_t* wide,
                        int wide_size) noexcept
{
    if (code_page != CP_UTF8 || flags != 0 || !narrow || narrow_length == 0 || wide_size < 0)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::size_t length = narrow_length < 0 ? std::strlen(narrow) + 1 : static_cast<std::size_t>(narrow_length);
    const auto* bytes = reinterpret_cast<const unsigned char*>(narrow);
    std::wstring units;
    for (std::size_t i = 0; i < length;)
    {
        // Each byte that does not begin a well-formed sequence becomes one U+FFFD.
        const unsigned char lead = bytes[i];
        std::size_t extra = lead < 0x80 ? 0 : lead >= 0xC2 && lead <= 0xDF ? 1 : lead >= 0xE0 && lead <= 0xEF ? 2
                                                                               : lead >= 0xF0 && lead <= 0xF4 ? 3
                                                                                                              : 9;
        char32_t c = extra == 0 ? lead : extra == 1 ? lead & 0x1F : extra == 2 ? lead & 0x0F : lead & 0x07;
        bool valid = extra != 9 && i + extra < length;
        for (std::size_t k = 1; valid && k <= extra; ++k)
        {
            valid = (bytes[i + k] & 0xC0) == 0x80;
            c = (c << 6) | (bytes[i + k] & 0x3F);
        }
        constexpr char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
        if (!valid || c < minimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        {
            units += static_cast<wchar_t>(0xFFFD);
            ++i;
            continue;
        }
        if (c >= 0x10000)
        {
            units += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            units += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
        else
            units += static_cast<wchar_t>(c);
        i += extra + 1;
    }
    if (wide_size == 0)
        return static_cast<int>(units.size());
    if (units.size() > static_cast<std::size_t>(wide_size))
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    fuzz_wmemcpy(wide, units.data(), units.size());
    return static_cast<int>(units.size());
}

DWORD ExpandEnvironmentStringsW(const wchar_t* source, wchar_t* destination, DWORD size) noexcept
{
    const std::wstring_view text(source);
    std::wstring result;
    for (std::size_t i = 0; i < text.size();)
    {
        const std::size_t close = text[i] == L'%' ? text.find(L'%', i + 1) : std::wstring_view::npos;
        if (close == std::wstring_view::npos)
        {
            result += text[i++];
            continue;
        }
        const std::wstring_view name = text.substr(i + 1, close - i - 1);
        const variable* found = nullptr;
        for (const auto& v : environment)
        {
            if (!name.empty() && equal_ignoring_case(v.name, name))
                found = &v;
        }
        if (found)
        {
            result += found->value;
            i = close + 1;
        }
        else
        {
            // An unknown name stays as written; its closing "%" may open the next one.
            result += text.substr(i, close - i);
            i = close;
        }
    }
    const DWORD needed = static_cast<DWORD>(result.size() + 1);
    if (destination && size >= needed)
        fuzz_wmemcpy(destination, result.c_str(), needed);
    return needed;
}

DWORD GetModuleFileNameW(HMODULE, wchar_t* file_name, DWORD size) noexcept
{
    if (size == 0)
        return 0;
    const std::size_t copied = std::min<std::size_t>(module_file.size(), size - 1);
    for (std::size_t i = 0; i < copied; ++i)
        file_name[i] = static_cast<wchar_t>(module_file[i]);
    file_name[copied] = L'\0';
    if (copied < module_file.size())
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(copied);
}

BOOL PathRemoveFileSpecW(wchar_t* path) noexcept
{
    std::size_t length = fuzz_wcslen(path);
    std::size_t separator = length;
    while (separator > 0 && path[separator - 1] != L'\\')
        --separator;
    if (separator == 0)
        return FALSE;
    // "C:\file" keeps the root's backslash.
    const std::size_t end = separator == 3 && path[1] == L':' ? separator : separator - 1;
    path[end] = L'\0';
    return end != length;
}

namespace fuzz_platform
{
std::vector<std::string>& logged_lines()
{
    static std::vector<std::string> lines;
    return lines;
}
} // namespace fuzz_platform

namespace log_detail
{
void write_narrow(log_level level, std::string_view message)
{
    fuzz_platform::logged_lines().push_back(std::to_string(static_cast<int>(level)) + " " + std::string(message));
}

void write_wide(log_level level, std::wstring_view message)
{
    fuzz_platform::logged_lines().push_back(std::to_string(static_cast<int>(level)) + " " + to_utf8(message));
}
} // namespace log_detail
