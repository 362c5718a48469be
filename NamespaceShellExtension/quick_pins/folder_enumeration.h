#pragma once
// Enumerating a group folder the way the navigation pane can afford: basic information only (no short
// names) and large fetches, since a listing runs while Explorer draws.

#include <windows.h>

#include <string>

class folder_enumeration
{
public:
    // Starts with the first entry of `folder` in `found`; tests false when the folder cannot be read.
    folder_enumeration(const std::wstring& folder, WIN32_FIND_DATAW& found);
    ~folder_enumeration();
    folder_enumeration(const folder_enumeration&) = delete;
    folder_enumeration& operator=(const folder_enumeration&) = delete;

    explicit operator bool() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }
    // The next entry into `found`; false at the end.
    bool next(WIN32_FIND_DATAW& found) noexcept;

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};
