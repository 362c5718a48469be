#include "quick_pins/folder_enumeration.h"

#include "base/module_folder.h"

folder_enumeration::folder_enumeration(const std::wstring& folder, WIN32_FIND_DATAW& found)
    : handle_(FindFirstFileExW(join_path(folder, L"*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                               nullptr, FIND_FIRST_EX_LARGE_FETCH))
{
}

folder_enumeration::~folder_enumeration()
{
    if (handle_ != INVALID_HANDLE_VALUE)
        FindClose(handle_);
}

bool folder_enumeration::next(WIN32_FIND_DATAW& found) noexcept
{
    return handle_ != INVALID_HANDLE_VALUE && FindNextFileW(handle_, &found);
}
