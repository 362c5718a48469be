#pragma once
// The path function of the Shell's light-weight utilities that the native fuzz build needs.

#include <windows.h>

BOOL PathRemoveFileSpecW(wchar_t* path) noexcept;
