#pragma once
// Force-included into every source of the native fuzz build, which compiles with -fshort-wchar so that
// wchar_t is the 16-bit UTF-16 unit it is on Windows. The C library's wide functions (wcslen, wmemcpy,
// ...) are built for glibc's 32-bit wchar_t, and libstdc++'s std::wstring and std::to_wstring call them:
// from here on those names lead to the 16-bit versions in platform.cpp instead. <cwchar> comes first,
// so that its own #undef of these names has run before they are defined.

#include <cstdarg>
#include <cstddef>
#include <cwchar>

extern "C"
{
std::size_t fuzz_wcslen(const wchar_t* text) noexcept;
std::size_t fuzz_wcsnlen(const wchar_t* text, std::size_t limit) noexcept;
wchar_t* fuzz_wmemcpy(wchar_t* to, const wchar_t* from, std::size_t count) noexcept;
wchar_t* fuzz_wmemmove(wchar_t* to, const wchar_t* from, std::size_t count) noexcept;
wchar_t* fuzz_wmemset(wchar_t* to, wchar_t unit, std::size_t count) noexcept;
int fuzz_wmemcmp(const wchar_t* a, const wchar_t* b, std::size_t count) noexcept;
wchar_t* fuzz_wmemchr(const wchar_t* text, wchar_t unit, std::size_t count) noexcept;
// Only the integer and floating-point conversions that std::to_wstring uses.
int fuzz_vswprintf(wchar_t* to, std::size_t size, const wchar_t* format, va_list arguments) noexcept;
}

namespace std
{
using ::fuzz_vswprintf;
using ::fuzz_wcslen;
using ::fuzz_wcsnlen;
using ::fuzz_wmemchr;
using ::fuzz_wmemcmp;
using ::fuzz_wmemcpy;
using ::fuzz_wmemmove;
using ::fuzz_wmemset;
} // namespace std

#define wcslen fuzz_wcslen
#define wcsnlen fuzz_wcsnlen
#define wmemcpy fuzz_wmemcpy
#define wmemmove fuzz_wmemmove
#define wmemset fuzz_wmemset
#define wmemcmp fuzz_wmemcmp
#define wmemchr fuzz_wmemchr
#define vswprintf fuzz_vswprintf

static_assert(sizeof(wchar_t) == 2, "the native fuzz build needs -fshort-wchar");
