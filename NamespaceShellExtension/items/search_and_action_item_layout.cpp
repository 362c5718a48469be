#include "items/search_and_action_item_layout.h"

#include <algorithm>
#include <cwctype>

namespace
{
bool is_separator(wchar_t c) noexcept
{
    return c == L'\\' || c == L'/';
}

bool starts_with_ignoring_case(std::wstring_view text, std::wstring_view prefix) noexcept
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::towupper(text[i]) != std::towupper(prefix[i]))
            return false;
    return true;
}

bool is_drive(std::wstring_view text) noexcept
{
    return text.size() >= 2 && text[1] == L':' && std::iswalpha(text[0]);
}

// The end of the component that starts at `from`.
std::size_t component_end(std::wstring_view text, std::size_t from) noexcept
{
    while (from < text.size() && !is_separator(text[from]))
        ++from;
    return from;
}

std::size_t last_separator(std::wstring_view text) noexcept
{
    for (std::size_t i = text.size(); i > 0; --i)
        if (is_separator(text[i - 1]))
            return i - 1;
    return std::wstring_view::npos;
}

template <std::size_t N>
std::wstring read_text(const wchar_t (&field)[N])
{
    std::size_t length = 0;
    while (length < N && field[length] != L'\0')
        ++length;
    return std::wstring(field, length);
}
} // namespace

std::size_t path_root_length(std::wstring_view path) noexcept
{
    if (starts_with_ignoring_case(path, L"\\\\?\\UNC\\"))
        return std::min(path.size(), component_end(path, component_end(path, 8) + 1));
    if (path.size() >= 4 && is_separator(path[0]) && is_separator(path[1]) && (path[2] == L'?' || path[2] == L'.') &&
        is_separator(path[3]))
        return is_drive(path.substr(4)) ? 6 : 4;
    if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]))
        return std::min(path.size(), component_end(path, component_end(path, 2) + 1));
    return is_drive(path) ? 2 : 0;
}

std::wstring path_file_name(std::wstring_view path)
{
    const auto rest = path.substr(path_root_length(path));
    if (rest.empty() || is_separator(rest.back()))
        return {};
    const auto separator = last_separator(rest);
    return std::wstring(separator == std::wstring_view::npos ? rest : rest.substr(separator + 1));
}

std::wstring path_parent(std::wstring_view path)
{
    const std::size_t root = path_root_length(path);
    const auto separator = last_separator(path.substr(root));
    if (separator == std::wstring_view::npos)
        return std::wstring(path.substr(0, root));
    std::size_t end = root + separator;
    while (end > root && is_separator(path[end - 1]))
        --end;
    // A file right below the root keeps the root's separator: the parent of "C:\a.lnk" is "C:\".
    if (end == root)
        return std::wstring(path.substr(0, root + 1));
    return std::wstring(path.substr(0, end));
}

std::wstring item_path(const search_and_action_item_data* item)
{
    return read_text(item->path);
}

std::wstring item_display_name(const search_and_action_item_data* item)
{
    if (item->kind == static_cast<std::uint8_t>(item_kind::quick_pin) ||
        item->kind == static_cast<std::uint8_t>(item_kind::quick_pins_group))
    {
        auto name = read_text(item->name);
        if (!name.empty())
            return name;
    }
    auto path = read_text(item->path);
    if (item->kind == static_cast<std::uint8_t>(item_kind::organized_folder) ||
        item->kind == static_cast<std::uint8_t>(item_kind::organized_search))
    {
        // A namespace path ("::{...}\Folder\Search"), not a file path: only the backslash separates,
        // so a search named "Report: Q1/Q2" keeps its whole name.
        const auto separator = path.rfind(L'\\');
        return separator == std::wstring::npos ? path : path.substr(separator + 1);
    }
    return path_file_name(path);
}

std::wstring item_icon(const search_and_action_item_data* item)
{
    return read_text(item->icon);
}

std::wstring item_link_path(const search_and_action_item_data* item)
{
    return read_text(item->link_path);
}

std::wstring item_container_folder(const search_and_action_item_data* item)
{
    const auto source = item->kind == static_cast<std::uint8_t>(item_kind::quick_pins_group) ? read_text(item->path)
                                                                                             : read_text(item->link_path);
    if (source.empty())
        return {};
    return path_parent(source);
}
