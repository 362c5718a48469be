#pragma once
// How the quick pins store names things on disk. Users order a group by numbering its files
// ("1. Reports.lnk", "2 Invoices.lnk", "10. Archive"), and Explorer shows the names without that number
// and without the shortcut's extension. Group and pin names become file names, so the characters that
// Windows refuses in a file name are replaced.

#include <cstddef>
#include <string>
#include <string_view>

// Characters of the order prefix at the start of `name`: ASCII digits, then the longest of ".", ". ",
// " " and " ." that follows. None when the part before the last "." (the whole name when no "." follows
// the first character) is digits only, so that "007.lnk" and a folder "2024" keep their numbers; a
// folder whose name has such a dot loses it all the same ("2024.05" shows as "05").
std::size_t order_prefix_length(std::wstring_view name, bool is_folder) noexcept;

inline std::wstring_view without_order_prefix(std::wstring_view name, bool is_folder) noexcept
{
    return name.substr(order_prefix_length(name, is_folder));
}

// A file's name as a group shows it: no order prefix, and no trailing ".lnk" or ".url" (any case,
// repeatedly): "3. Budget.xlsx.lnk" shows as "Budget.xlsx", "a.url.lnk" as "a".
std::wstring pin_display_name(std::wstring_view file_name);

// True for the entries users put into a group to draw a line: "Separator" (any case) or only "-", once
// the order prefix and the last extension are taken off ("4. separator.url", "---.lnk").
bool is_separator_name(std::wstring_view name, bool is_folder) noexcept;

// The folder name of a group: `"*/:<>?\|` become "_", trailing blanks and dots go, and "Pins" stands
// for a name that leaves nothing.
std::wstring sanitized_group_folder_name(std::wstring_view group_name);

// The shortcut name (without ".lnk") for a pinned path: its last component as PathFindFileNameW gives it,
// or the whole path when that is empty; control characters and `"*/:<>?\|` become "_", trailing blanks
// and dots go, and "Pin" stands for a name that leaves nothing. A drive root "D:\" gives "D__".
std::wstring sanitized_pin_name(const std::wstring& pinned_path);

// The extension of a pin's file name for renaming: from its last "." to the end or to a ":" stream
// suffix; empty when there is no ".".
std::wstring_view pin_file_extension(std::wstring_view file_name) noexcept;

// True when the two texts are equal ignoring case, as the file system compares names.
bool equal_ignoring_case(std::wstring_view a, std::wstring_view b) noexcept;
