// The sort order of the folder's items (CompareIDs). Pins, groups, organised folders and saved searches
// keep the order the user gave them: their sort key is " !", the order as three digits at least, and the
// name, compared in the user's locale, so that 2 comes before 10 and an item without an order (999)
// after every numbered one. Real files sort by the clicked column, from their attributes or from what the
// search that found them read; everything else by path. A view sorts thousands of rows with this, so the
// common case (files by name) compares the identifiers' own text without copying it.

#include "namespace/folder_columns.h"
#include "namespace/search_and_action_shell_folder.h"
#include "search/search_cache.h"
#include "search/volume_guard.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <cwctype>
#include <optional>

namespace
{
bool is_kind(std::uint8_t kind, item_kind wanted) noexcept
{
    return kind == static_cast<std::uint8_t>(wanted);
}

bool is_pin_or_group(std::uint8_t kind) noexcept
{
    return is_kind(kind, item_kind::quick_pin) || is_kind(kind, item_kind::quick_pins_group);
}

bool is_organized_or_group(std::uint8_t kind) noexcept
{
    return is_kind(kind, item_kind::organized_folder) || is_kind(kind, item_kind::organized_search) ||
           is_kind(kind, item_kind::quick_pins_group);
}

bool is_real_file(std::uint8_t kind) noexcept
{
    return is_kind(kind, item_kind::search_result) || is_kind(kind, item_kind::quick_pin);
}

int sign(int value) noexcept
{
    return (value > 0) - (value < 0);
}

template <class T>
int compare_numbers(T a, T b) noexcept
{
    return (a > b) - (a < b);
}

// Case-insensitive ordinal comparison, as the file system compares names.
int compare_ordinal(std::wstring_view a, std::wstring_view b) noexcept
{
    return compare_ordinal_ignoring_case(a.data(), a.size(), b.data(), b.size());
}

// The user's locale ignoring case; the ordinal comparison when the locale cannot answer.
int compare_in_locale(std::wstring_view a, std::wstring_view b) noexcept
{
    if (a.empty() || b.empty())
        return compare_numbers(!a.empty(), !b.empty());
    const int result = CompareStringEx(LOCALE_NAME_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                                       b.data(), static_cast<int>(b.size()), nullptr, nullptr, 0);
    if (result != 0)
        return result - CSTR_EQUAL;
    return compare_ordinal(a, b);
}

std::wstring order_key(const search_and_action_item_data* item)
{
    return fmt::format(L" !{:03}{}", item->order, item_display_name(item));
}

// Two lists, each sorted, element by element in the locale; on a common prefix the shorter first.
int compare_lists(std::vector<std::wstring> a, std::vector<std::wstring> b)
{
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i)
        if (const int result = compare_in_locale(a[i], b[i]))
            return result;
    return compare_numbers(a.size(), b.size());
}

std::vector<std::wstring> split_list(std::wstring_view text)
{
    std::vector<std::wstring> values;
    while (!text.empty())
    {
        const auto end = text.find(L';');
        values.emplace_back(text.substr(0, end));
        if (end == std::wstring_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return values;
}

int compare_paths(const search_and_action_item_data* a, const search_and_action_item_data* b) noexcept
{
    constexpr std::size_t capacity = sizeof(a->path) / sizeof(wchar_t);
    return compare_ordinal_ignoring_case(a->path, capacity, b->path, capacity);
}

int compare_paths_then_names(const search_and_action_item_data* a, const search_and_action_item_data* b)
{
    if (const int result = compare_paths(a, b))
        return result;
    return compare_ordinal(item_display_name(a), item_display_name(b));
}

// Step 2: items the user ordered.
int compare_ordered(const search_and_action_item_data* a, const search_and_action_item_data* b)
{
    if (compare_paths(a, b) == 0)
        return 0;
    if (const int result = compare_in_locale(order_key(a), order_key(b)))
        return result;
    return compare_paths(a, b);
}

// What the search that found a file read about it.
struct cached_facts
{
    std::wstring type_text;
    std::uint32_t rating = 0;
    std::vector<std::wstring> keywords;
    std::vector<std::wstring> people;
};

std::optional<cached_facts> find_cached(const search_and_action_item_data* item, special_column column)
{
    cached_facts facts;
    const bool found = process_search_cache().visit_listed_record(field_view(item->path), [&](const search_result_record& r) {
        switch (column)
        {
        case special_column::item_type:
            facts.type_text = r.type_text;
            break;
        case special_column::rating:
            facts.rating = r.rating;
            break;
        case special_column::keywords:
            facts.keywords = r.keywords;
            break;
        case special_column::people:
            facts.people = r.people;
            break;
        default:
            break;
        }
    });
    if (!found)
        return std::nullopt;
    return facts;
}

// Size, last write or creation of both files, when both may be touched and both answer.
std::optional<int> compare_attributes(const search_and_action_item_data* a, const search_and_action_item_data* b,
                                      special_column column)
{
    const std::wstring path_a(field_view(a->path));
    const std::wstring path_b(field_view(b->path));
    if (!is_volume_responsive(path_a) || !is_volume_responsive(path_b))
        return std::nullopt;
    WIN32_FILE_ATTRIBUTE_DATA data_a{};
    WIN32_FILE_ATTRIBUTE_DATA data_b{};
    if (!GetFileAttributesExW(path_a.c_str(), GetFileExInfoStandard, &data_a) ||
        !GetFileAttributesExW(path_b.c_str(), GetFileExInfoStandard, &data_b))
        return std::nullopt;
    const auto join = [](DWORD high, DWORD low) { return (static_cast<std::uint64_t>(high) << 32) | low; };
    switch (column)
    {
    case special_column::size:
        return compare_numbers(join(data_a.nFileSizeHigh, data_a.nFileSizeLow), join(data_b.nFileSizeHigh, data_b.nFileSizeLow));
    case special_column::date_modified:
        return compare_numbers(join(data_a.ftLastWriteTime.dwHighDateTime, data_a.ftLastWriteTime.dwLowDateTime),
                               join(data_b.ftLastWriteTime.dwHighDateTime, data_b.ftLastWriteTime.dwLowDateTime));
    default:
        return compare_numbers(join(data_a.ftCreationTime.dwHighDateTime, data_a.ftCreationTime.dwLowDateTime),
                               join(data_b.ftCreationTime.dwHighDateTime, data_b.ftCreationTime.dwLowDateTime));
    }
}

// Step 3: two real files by a column.
int compare_real_files(const search_and_action_item_data* a, const search_and_action_item_data* b, UINT column,
                       IShellFolder2* desktop)
{
    std::optional<special_column> which;
    for (std::size_t i = 0; i < special_column_count && column != 0; ++i)
        if (is_learned_column(column, static_cast<special_column>(i)))
            which = static_cast<special_column>(i);
    if (!which && column != 0)
    {
        special_column learned{};
        if (learn_column(desktop, column, true, &learned))
            which = learned;
    }
    if (!which)
        return compare_paths_then_names(a, b);

    switch (*which)
    {
    case special_column::size:
    case special_column::date_modified:
    case special_column::date_created:
        return compare_attributes(a, b, *which).value_or(0);
    case special_column::item_type:
    {
        const auto fa = find_cached(a, *which);
        const auto fb = fa ? find_cached(b, *which) : std::nullopt;
        if (!fa || !fb)
            return compare_ordinal(item_display_name(a), item_display_name(b));
        if (const int result = compare_ordinal(fa->type_text, fb->type_text))
            return result;
        return compare_paths_then_names(a, b);
    }
    case special_column::rating:
    {
        const auto fa = find_cached(a, *which);
        const auto fb = fa ? find_cached(b, *which) : std::nullopt;
        if (fa && fb)
            if (const int result = compare_numbers(fa->rating, fb->rating))
                return result;
        return compare_paths_then_names(a, b);
    }
    case special_column::keywords:
    case special_column::people:
    {
        const bool keywords = *which == special_column::keywords;
        const auto fa = find_cached(a, *which);
        const auto fb = fa ? find_cached(b, *which) : std::nullopt;
        if (!fa || !fb)
            return compare_lists(split_list(keywords ? field_view(a->keywords) : field_view(a->people)),
                                 split_list(keywords ? field_view(b->keywords) : field_view(b->people)));
        if (const int result = keywords ? compare_lists(fa->keywords, fb->keywords) : compare_lists(fa->people, fb->people))
            return result;
        return compare_paths_then_names(a, b);
    }
    default:
        return compare_paths_then_names(a, b);
    }
}

HRESULT compare_result(int order) noexcept
{
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, static_cast<USHORT>(static_cast<short>(sign(order))));
}

bool has_more(PCUIDLIST_RELATIVE list) noexcept
{
    const auto* next = ILNext(list);
    return next && next->mkid.cb != 0;
}
} // namespace

int compare_ordinal_ignoring_case(const wchar_t* a, std::size_t a_max, const wchar_t* b, std::size_t b_max) noexcept
{
    std::size_t i = 0;
    for (;; ++i)
    {
        const wchar_t x = i < a_max ? a[i] : L'\0';
        const wchar_t y = i < b_max ? b[i] : L'\0';
        if (x >= 0x80 || y >= 0x80)
            break;
        if (x == y)
        {
            if (x == L'\0')
                return 0;
            continue;
        }
        const wchar_t ux = (x >= L'a' && x <= L'z') ? static_cast<wchar_t>(x - 32) : x;
        const wchar_t uy = (y >= L'a' && y <= L'z') ? static_cast<wchar_t>(y - 32) : y;
        if (ux != uy)
            return ux < uy ? -1 : 1;
    }
    // Beyond ASCII: the system's table for the rest.
    const std::size_t a_rest = wcsnlen(a + i, a_max - std::min(i, a_max));
    const std::size_t b_rest = wcsnlen(b + i, b_max - std::min(i, b_max));
    const int result = CompareStringOrdinal(a + i, static_cast<int>(a_rest), b + i, static_cast<int>(b_rest), TRUE);
    if (result != 0)
        return result - CSTR_EQUAL;
    const std::size_t common = std::min(a_rest, b_rest);
    for (std::size_t k = 0; k < common; ++k)
    {
        const auto x = std::towupper(a[i + k]);
        const auto y = std::towupper(b[i + k]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return compare_numbers(a_rest, b_rest);
}

// Orders two items (and the rest of their lists) by a column of the desktop's numbering.
STDMETHODIMP search_and_action_shell_folder::CompareIDs(LPARAM param, PCUIDLIST_RELATIVE first,
                                                        PCUIDLIST_RELATIVE second) noexcept
{
    return com_boundary("CompareIDs", [&]() -> HRESULT {
        const auto* a = first ? own_item_data(reinterpret_cast<PCUITEMID_CHILD>(first)) : nullptr;
        const auto* b = second ? own_item_data(reinterpret_cast<PCUITEMID_CHILD>(second)) : nullptr;
        if (!a || !b || !is_valid_item_kind(a->kind) || !is_valid_item_kind(b->kind))
        {
            log_message(log_level::warning, "CompareIDs: not an item identifier of this folder");
            return E_INVALIDARG;
        }
        const UINT column = static_cast<UINT>(param & SHCIDS_COLUMNMASK);
        const bool all_fields = (param & SHCIDS_ALLFIELDS) != 0;

        int order = 0;
        if (column == 0 && ((is_pin_or_group(a->kind) && is_pin_or_group(b->kind)) ||
                            (is_organized_or_group(a->kind) && is_organized_or_group(b->kind))))
        {
            order = compare_ordered(a, b);
        }
        else
        {
            if (is_real_file(a->kind) && is_real_file(b->kind))
            {
                com_ptr<IShellFolder2> desktop;
                if (column != 0 && (learned_column(special_column::keywords) < 0 || learned_column(special_column::people) < 0))
                    desktop = desktop_folder();
                order = compare_real_files(a, b, column, desktop.get());
            }
            else if (a->kind == b->kind)
                order = compare_paths(a, b);
            else
                order = compare_numbers(a->kind, b->kind);

            if (order == 0)
                order = compare_paths(a, b);
            if (order == 0 && all_fields && a->stamp != 0 && b->stamp != 0)
                order = compare_numbers(a->stamp, b->stamp);
        }
        if (order != 0)
            return compare_result(order);

        const bool first_continues = has_more(first);
        const bool second_continues = has_more(second);
        if (first_continues && second_continues)
        {
            unique_child_id head(ILCloneFirst(first));
            if (!head)
                return E_OUTOFMEMORY;
            com_ptr<IShellFolder> subfolder;
            const HRESULT hr = BindToObject(head.get(), nullptr, IID_IShellFolder, subfolder.put_void());
            if (FAILED(hr))
                return hr;
            return subfolder->CompareIDs(param & SHCIDS_COLUMNMASK, ILNext(first), ILNext(second));
        }
        if (first_continues)
            return compare_result(1);
        if (second_continues)
            return compare_result(-1);
        return compare_result(0);
    });
}
