// Columns and their values. Results and pins are real files: their columns come from the real folder that
// holds the file, except keywords and people, which the search that found the file already read. The
// folder's own items (organised folders, saved searches, groups) have a name and a type and nothing else.

#include "namespace/folder_columns.h"
#include "namespace/property_formats.h"
#include "namespace/real_parent_cache.h"
#include "namespace/search_and_action_shell_folder.h"
#include "search/search_cache.h"

#include <shlwapi.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <cwchar>
#include <memory>

namespace
{
constexpr SHCOLSTATEF name_column_state = SHCOLSTATE_TYPE_STR | SHCOLSTATE_ONBYDEFAULT;
constexpr SHCOLSTATEF other_column_state = SHCOLSTATE_SECONDARYUI | SHCOLSTATE_SLOW;

// In the order of special_column.
const special_column_info special_columns[special_column_count] = {
    {{format_storage, 12}, 0x32},  // System.Size: integer, on by default, slow
    {{format_storage, 4}, 0x31},   // System.ItemTypeText: string, on by default, slow
    {{format_storage, 14}, 0x33},  // System.DateModified: date, on by default, slow
    {{format_storage, 15}, 0x33},  // System.DateCreated
    {{format_summary, 5}, 0x31},   // System.Keywords
    {{format_media, 9}, 0x32},     // System.Rating
    {{format_people, 100}, 0x31},  // System.Photo.PeopleNames
    {{format_location, 6}, 0x31},  // System.ItemFolderPathDisplay
};

std::atomic<int> learned_numbers[special_column_count] = {-1, -1, -1, -1, -1, -1, -1, -1};

constexpr int virtual_name_width = 40;
constexpr int virtual_type_width = 15;
constexpr int list_column_width = 32;

HRESULT fill_details(SHELLDETAILS* details, const wchar_t* text, int width) noexcept
{
    details->fmt = LVCFMT_LEFT;
    details->cxChar = width;
    details->str.uType = STRRET_WSTR;
    details->str.pOleStr = nullptr;
    return SHStrDupW(text, &details->str.pOleStr);
}

HRESULT fill_bstr(VARIANT* value, const std::wstring& text) noexcept
{
    BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!copy)
        return E_OUTOFMEMORY;
    value->vt = VT_BSTR;
    value->bstrVal = copy;
    return S_OK;
}

bool is_real_file_kind(std::uint8_t kind) noexcept
{
    return kind == static_cast<std::uint8_t>(item_kind::search_result) ||
           kind == static_cast<std::uint8_t>(item_kind::quick_pin);
}

bool is_virtual_kind(std::uint8_t kind) noexcept
{
    return kind == static_cast<std::uint8_t>(item_kind::organized_folder) ||
           kind == static_cast<std::uint8_t>(item_kind::organized_search) ||
           kind == static_cast<std::uint8_t>(item_kind::quick_pins_group);
}

// The keywords or people that the search which found `path` read, joined; false when no search
// lists the file.
bool cached_list_text(std::wstring_view path, bool keywords, std::wstring& text)
{
    return process_search_cache().visit_listed_record(path, [&](const search_result_record& record) {
        text = join_for_column(keywords ? record.keywords : record.people);
    });
}

HRESULT not_ours(const char* method) noexcept
{
    try
    {
        log_message(log_level::warning, "{}: not an item identifier of this folder", method);
    }
    catch (...)
    {
    }
    return E_INVALIDARG;
}
} // namespace

const special_column_info& column_info(special_column column) noexcept
{
    return special_columns[static_cast<std::size_t>(column)];
}

int learned_column(special_column column) noexcept
{
    return learned_numbers[static_cast<std::size_t>(column)].load(std::memory_order_relaxed);
}

bool is_learned_column(UINT number, special_column column) noexcept
{
    // -1 marks a number not learned yet, which no column index may match (0xFFFFFFFF is -1 as an int).
    const int learned = learned_column(column);
    return learned >= 0 && static_cast<UINT>(learned) == number;
}

bool learn_column(IShellFolder2* desktop, UINT number, bool keywords_and_people_only, special_column* which) noexcept
{
    if (!desktop || number == 0 || number > static_cast<UINT>(INT_MAX))
        return false;
    SHCOLUMNID key{};
    if (FAILED(desktop->MapColumnToSCID(number, &key)))
        return false;
    for (std::size_t i = 0; i < special_column_count; ++i)
    {
        const auto column = static_cast<special_column>(i);
        if (keywords_and_people_only && column != special_column::keywords && column != special_column::people)
            continue;
        if (!same_property_key(key, special_columns[i].key))
            continue;
        int unknown = -1;
        learned_numbers[i].compare_exchange_strong(unknown, static_cast<int>(number), std::memory_order_relaxed);
        if (which)
            *which = column;
        return true;
    }
    return false;
}

void forget_learned_columns() noexcept
{
    for (auto& number : learned_numbers)
        number.store(-1, std::memory_order_relaxed);
}

void set_learned_column(special_column column, int number) noexcept
{
    learned_numbers[static_cast<std::size_t>(column)].store(number, std::memory_order_relaxed);
}

const wchar_t* item_type_text(std::uint8_t kind) noexcept
{
    switch (static_cast<item_kind>(kind))
    {
    case item_kind::organized_folder:
        return L"Organized Folder";
    case item_kind::organized_search:
        return L"Organized Search";
    case item_kind::quick_pin:
        return L"Quick pin";
    case item_kind::quick_pins_group:
        return L"Quick pins group";
    default:
        return L"Needs Organizing";
    }
}

std::wstring join_for_column(const std::vector<std::wstring>& values)
{
    std::wstring text;
    for (const auto& value : values)
    {
        if (!text.empty())
            text += L"; ";
        text += value;
    }
    return text;
}

// The state of a column of the desktop's numbering, learning the special columns on the way.
STDMETHODIMP search_and_action_shell_folder::GetDefaultColumnState(UINT column, SHCOLSTATEF* state) noexcept
{
    return com_boundary("GetDefaultColumnState", [&]() -> HRESULT {
        if (!state)
            return E_INVALIDARG;
        if (column == 0)
        {
            *state = name_column_state;
            return S_OK;
        }
        for (std::size_t i = 0; i < special_column_count; ++i)
        {
            if (is_learned_column(column, static_cast<special_column>(i)))
            {
                *state = special_columns[i].default_state;
                return S_OK;
            }
        }
        special_column which{};
        const auto desktop = desktop_folder();
        if (learn_column(desktop.get(), column, false, &which))
        {
            *state = column_info(which).default_state;
            return S_OK;
        }
        *state = other_column_state;
        return E_INVALIDARG;
    });
}

// Column numbers are the desktop folder's.
STDMETHODIMP search_and_action_shell_folder::MapColumnToSCID(UINT column, SHCOLUMNID* key) noexcept
{
    return com_boundary("MapColumnToSCID", [&]() -> HRESULT {
        const auto desktop = desktop_folder();
        if (!desktop)
            return E_FAIL;
        return desktop->MapColumnToSCID(column, key);
    });
}

// A column's header (no child) or an item's value in it.
STDMETHODIMP search_and_action_shell_folder::GetDetailsOf(PCUITEMID_CHILD child, UINT column,
                                                          SHELLDETAILS* details) noexcept
{
    return com_boundary("GetDetailsOf", [&]() -> HRESULT {
        if (!details)
            return E_INVALIDARG;
        if (!child)
        {
            const auto desktop = desktop_folder();
            return desktop ? desktop->GetDetailsOf(nullptr, column, details) : E_FAIL;
        }
        const auto* item = own_item_data(child);
        if (!item || !is_valid_item_kind(item->kind))
            return not_ours("GetDetailsOf");

        if (is_real_file_kind(item->kind))
        {
            const bool keywords = is_learned_column(column, special_column::keywords);
            if (keywords || is_learned_column(column, special_column::people))
            {
                std::wstring text;
                if (cached_list_text(field_view(item->path), keywords, text))
                    return fill_details(details, text.c_str(), list_column_width);
            }
            std::shared_ptr<const real_parent_of_item> parent;
            const HRESULT hr = bind_real_parent_of_item("GetDetailsOf", item, parent);
            if (FAILED(hr))
                return hr;
            return parent->folder->GetDetailsOf(parent->last.get(), column, details);
        }
        if (!is_virtual_kind(item->kind))
            return E_INVALIDARG;

        critical_section_lock hold(lock_);
        if (column == 0)
            return fill_details(details, item_display_name(item).c_str(), virtual_name_width);
        if (is_learned_column(column, special_column::item_type))
            return fill_details(details, item_type_text(item->kind), virtual_type_width);
        return E_INVALIDARG;
    });
}

// An item's value of a property.
STDMETHODIMP search_and_action_shell_folder::GetDetailsEx(PCUITEMID_CHILD child, const SHCOLUMNID* key,
                                                          VARIANT* value) noexcept
{
    return com_boundary("GetDetailsEx", [&]() -> HRESULT {
        if (!key || !value)
            return E_INVALIDARG;
        if (!child)
        {
            const auto desktop = desktop_folder();
            return desktop ? desktop->GetDetailsEx(nullptr, key, value) : E_FAIL;
        }
        const auto* item = own_item_data(child);
        if (!item || !is_valid_item_kind(item->kind))
            return not_ours("GetDetailsEx");

        if (is_real_file_kind(item->kind))
        {
            const bool keywords = same_property_key(*key, column_info(special_column::keywords).key);
            if (keywords || same_property_key(*key, column_info(special_column::people).key))
            {
                std::wstring text;
                if (cached_list_text(field_view(item->path), keywords, text))
                    return fill_bstr(value, text);
            }
            std::shared_ptr<const real_parent_of_item> parent;
            const HRESULT hr = bind_real_parent_of_item("GetDetailsEx", item, parent);
            if (FAILED(hr))
                return hr;
            return parent->folder->GetDetailsEx(parent->last.get(), key, value);
        }
        if (!is_virtual_kind(item->kind))
            return E_INVALIDARG;

        critical_section_lock hold(lock_);
        if (same_property_key(*key, item_name_key))
            return fill_bstr(value, item_display_name(item));
        if (same_property_key(*key, column_info(special_column::item_type).key))
            return fill_bstr(value, item_type_text(item->kind));
        return E_INVALIDARG;
    });
}
