#include "quick_pins/pin_names.h"

#include <windows.h>
#include <shlwapi.h>

namespace
{
bool is_ascii_digit(wchar_t c) noexcept
{
    return c >= L'0' && c <= L'9';
}

bool all_digits(std::wstring_view text) noexcept
{
    for (const wchar_t c : text)
    {
        if (!is_ascii_digit(c))
            return false;
    }
    return true;
}

// The position of the last "." when one follows the first character, else npos.
std::size_t last_inner_dot(std::wstring_view name) noexcept
{
    const std::size_t dot = name.rfind(L'.');
    return dot == std::wstring_view::npos || dot == 0 ? std::wstring_view::npos : dot;
}

bool ends_with_ignoring_case(std::wstring_view text, std::wstring_view suffix) noexcept
{
    return text.size() >= suffix.size() && equal_ignoring_case(text.substr(text.size() - suffix.size()), suffix);
}

void trim_trailing_blanks_and_dots(std::wstring& text)
{
    while (!text.empty() && (text.back() == L' ' || text.back() == L'.'))
        text.pop_back();
}

bool is_reserved_in_file_names(wchar_t c) noexcept
{
    switch (c)
    {
    case L'"':
    case L'*':
    case L'/':
    case L':':
    case L'<':
    case L'>':
    case L'?':
    case L'\\':
    case L'|':
        return true;
    default:
        return false;
    }
}
} // namespace

bool equal_ignoring_case(std::wstring_view a, std::wstring_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    if (a.empty())
        return true;
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::size_t order_prefix_length(std::wstring_view name, bool is_folder) noexcept
{
    std::size_t digits = 0;
    while (digits < name.size() && is_ascii_digit(name[digits]))
        ++digits;
    if (digits == 0)
        return 0;

    const std::size_t dot = last_inner_dot(name);
    const std::wstring_view stem = dot == std::wstring_view::npos ? name : name.substr(0, dot);
    if (all_digits(stem) && !(is_folder && dot != std::wstring_view::npos))
        return 0;

    const std::wstring_view rest = name.substr(digits);
    if (rest.starts_with(L". ") || rest.starts_with(L" ."))
        return digits + 2;
    if (rest.starts_with(L'.') || rest.starts_with(L' '))
        return digits + 1;
    return digits;
}

std::wstring pin_display_name(std::wstring_view file_name)
{
    std::wstring_view name = without_order_prefix(file_name, false);
    while (ends_with_ignoring_case(name, L".lnk") || ends_with_ignoring_case(name, L".url"))
        name.remove_suffix(4);
    return std::wstring(name);
}

bool is_separator_name(std::wstring_view name, bool is_folder) noexcept
{
    const std::wstring_view shown = without_order_prefix(name, is_folder);
    const std::size_t dot = last_inner_dot(shown);
    const std::wstring_view stem = dot == std::wstring_view::npos ? shown : shown.substr(0, dot);
    if (stem.empty())
        return false;
    if (equal_ignoring_case(stem, L"Separator"))
        return true;
    return stem.find_first_not_of(L'-') == std::wstring_view::npos;
}

std::wstring sanitized_group_folder_name(std::wstring_view group_name)
{
    std::wstring name(group_name);
    for (wchar_t& c : name)
    {
        if (is_reserved_in_file_names(c))
            c = L'_';
    }
    trim_trailing_blanks_and_dots(name);
    return name.empty() ? std::wstring(L"Pins") : name;
}

std::wstring sanitized_pin_name(const std::wstring& pinned_path)
{
    std::wstring name = PathFindFileNameW(pinned_path.c_str());
    if (name.empty())
        name = pinned_path;
    for (wchar_t& c : name)
    {
        if (c < 0x20 || is_reserved_in_file_names(c))
            c = L'_';
    }
    trim_trailing_blanks_and_dots(name);
    return name.empty() ? std::wstring(L"Pin") : name;
}

std::wstring_view pin_file_extension(std::wstring_view file_name) noexcept
{
    const std::wstring_view name = file_name.substr(0, file_name.find(L':'));
    const std::size_t dot = name.rfind(L'.');
    return dot == std::wstring_view::npos ? std::wstring_view() : name.substr(dot);
}
