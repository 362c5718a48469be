#include "items/search_and_action_item_data.h"

#include "items/action_type.h"
#include "items/configuration_references.h"
#include "search/volume_guard.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <iterator>
#include <new>

namespace
{
template <std::size_t N>
void copy_text(wchar_t (&field)[N], std::wstring_view text) noexcept
{
    const std::size_t length = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), length * sizeof(wchar_t));
    field[length] = L'\0';
}

// A zeroed identifier of `kind` with the default order, followed by the ID list's terminator.
unique_child_id allocate_item(item_kind kind)
{
    void* memory = CoTaskMemAlloc(item_id_list_size);
    if (!memory)
        throw std::bad_alloc();
    std::memset(memory, 0, item_id_list_size);
    auto* item = static_cast<search_and_action_item_data*>(memory);
    item->cb = item_data_size;
    item->kind = static_cast<std::uint8_t>(kind);
    item->order = no_order;
    return unique_child_id(static_cast<PITEMID_CHILD>(memory));
}

search_and_action_item_data* data_of(const unique_child_id& id) noexcept
{
    return reinterpret_cast<search_and_action_item_data*>(id.get());
}

// The configuration's order is a 32-bit number; the identifier keeps its low 16 bits.
std::uint16_t order_field(std::int64_t order) noexcept
{
    return static_cast<std::uint16_t>(order);
}
} // namespace

const search_and_action_item_data* own_item_data(PCUITEMID_CHILD child) noexcept
{
    return item_data_from_bytes(child);
}

search_and_action_item_data* own_item_data(PITEMID_CHILD child) noexcept
{
    return const_cast<search_and_action_item_data*>(own_item_data(static_cast<PCUITEMID_CHILD>(child)));
}

unique_child_id create_folder_item(const namespace_settings::folder_record& folder)
{
    auto id = allocate_item(item_kind::organized_folder);
    auto* item = data_of(id);
    std::wstring path = main_root_parsing_name;
    path += L'\\';
    path += folder.name;
    copy_text(item->path, path);
    if (folder.order)
        item->order = order_field(*folder.order);
    copy_text(item->icon, folder.icon);
    return id;
}

unique_child_id create_search_item(const namespace_settings::folder_record& folder,
                                   const namespace_settings::query_record& query,
                                   const std::vector<all_tags_settings::tag_record>& tags,
                                   const std::vector<all_people_settings::person_record>& people)
{
    if (query.target)
    {
        // A target whose reference could not be replaced still holds its "$": it is no path, and the
        // entry shows as a saved search instead.
        const auto target = resolve_references(*query.target, tags, people);
        if (!target.empty() && target.find(L'$') == std::wstring::npos)
        {
            auto id = allocate_item(item_kind::quick_pin);
            auto* item = data_of(id);
            copy_text(item->path, target);
            copy_text(item->name, resolve_references(query.name, tags, people));
            if (query.order)
                item->order = order_field(*query.order);
            item->stamp = file_stamp(target.c_str());
            return id;
        }
    }

    auto id = allocate_item(item_kind::organized_search);
    auto* item = data_of(id);
    std::wstring path = main_root_parsing_name;
    path += L'\\';
    path += folder.name;
    path += L'\\';
    path += resolve_references(query.name, tags, people);
    copy_text(item->path, path);
    if (query.order)
        item->order = order_field(*query.order);
    copy_text(item->query, resolve_references(query.query, tags, people));
    copy_text(item->icon, resolve_references(query.icon, tags, people));
    if (query.action_type)
        item->action_type = static_cast<std::uint8_t>(action_type_from_text(*query.action_type));
    if (query.action_parameters)
        copy_text(item->action_parameters, resolve_references(*query.action_parameters, tags, people));
    return id;
}

bool is_recycle_bin_path(std::wstring_view path)
{
    std::wstring folded(path);
    for (auto& c : folded)
        c = c == L'/' ? L'\\' : static_cast<wchar_t>(std::towlower(c));
    return folded.find(L"\\$recycle.bin\\") != std::wstring::npos ||
           folded.find(L"\\$recycler\\") != std::wstring::npos;
}

namespace
{
// The values sorted and joined with ";" onto the end of `text`.
void append_sorted(std::wstring& text, const std::vector<std::wstring>& values)
{
    if (values.empty())
        return;
    if (values.size() == 1)
    {
        text += values.front();
        return;
    }
    std::vector<const std::wstring*> sorted;
    sorted.reserve(values.size());
    for (const auto& value : values)
        sorted.push_back(&value);
    std::sort(sorted.begin(), sorted.end(), [](const std::wstring* a, const std::wstring* b) { return *a < *b; });
    for (std::size_t i = 0; i < sorted.size(); ++i)
    {
        if (i > 0)
            text += L';';
        text += *sorted[i];
    }
}
} // namespace

result_row::result_row(std::wstring_view path, const std::vector<std::wstring>& keywords,
                       const std::vector<std::wstring>& people, std::uint64_t stamp)
    : path_length_(path.size()), stamp_(stamp)
{
    std::size_t length = path.size() + 3;
    for (const auto* list : {&keywords, &people})
        for (const auto& value : *list)
            length += value.size() + 1;
    text_.reserve(length);
    text_.append(path);
    text_ += L'\0';
    append_sorted(text_, keywords);
    keywords_length_ = text_.size() - path_length_ - 1;
    text_ += L'\0';
    append_sorted(text_, people);
}

std::optional<result_row> check_result(const std::wstring& path, const std::vector<std::wstring>& keywords,
                                       const std::vector<std::wstring>& people, volume_guard& guard)
{
    if (is_recycle_bin_path(path))
        return std::nullopt;
    // Reading the attributes of a file on a share that stopped answering would hold this thread for the
    // system's whole network time-out.
    if (!guard.is_responsive(path))
        return std::nullopt;
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes))
        return std::nullopt;
    return result_row(path, keywords, people, file_stamp(attributes));
}

std::vector<result_row> check_results(std::span<const search_result_record> records)
{
    std::vector<result_row> rows;
    rows.reserve(records.size());
    auto& guard = process_volume_guard();
    for (const auto& record : records)
        if (auto row = check_result(record.path, record.keywords, record.people, guard))
            rows.push_back(std::move(*row));
    return rows;
}

unique_child_id create_result_item(const result_row& row)
{
    auto id = allocate_item(item_kind::search_result);
    auto* item = data_of(id);
    copy_text(item->path, row.path());
    copy_text(item->keywords, row.keywords());
    copy_text(item->people, row.people());
    item->stamp = row.stamp();
    return id;
}

unique_child_id create_result_item(std::wstring_view path, const std::vector<std::wstring>& keywords,
                                   const std::vector<std::wstring>& people)
{
    return create_result_item(path, keywords, people, process_volume_guard());
}

unique_child_id create_result_item(std::wstring_view path, const std::vector<std::wstring>& keywords,
                                   const std::vector<std::wstring>& people, volume_guard& guard)
{
    const auto row = check_result(std::wstring(path), keywords, people, guard);
    return row ? create_result_item(*row) : unique_child_id();
}

unique_child_id create_result_item(const search_result_record& record)
{
    const auto row = check_result(record.path, record.keywords, record.people, process_volume_guard());
    return row ? create_result_item(*row) : unique_child_id();
}

std::vector<unique_child_id> create_result_items(const std::vector<search_result_record>& records)
{
    std::vector<unique_child_id> items;
    items.reserve(records.size());
    auto& guard = process_volume_guard();
    for (const auto& record : records)
        if (const auto row = check_result(record.path, record.keywords, record.people, guard))
            items.push_back(create_result_item(*row));
    return items;
}

unique_child_id create_pin_item(const quick_pin_entry& entry, std::size_t position)
{
    auto id = entry.is_group ? create_group_item_from_parts(entry.target_path, entry.display_name)
                             : create_pin_item_from_parts(entry.target_path, entry.display_name, entry.link_path);
    data_of(id)->order = order_field(static_cast<std::int64_t>(position));
    return id;
}

unique_child_id create_pin_item_from_parts(std::wstring_view target_path, std::wstring_view display_name,
                                           std::wstring_view link_path)
{
    auto id = allocate_item(item_kind::quick_pin);
    auto* item = data_of(id);
    copy_text(item->path, target_path);
    copy_text(item->name, display_name);
    copy_text(item->link_path, link_path);
    item->stamp = file_stamp(std::wstring(target_path).c_str());
    return id;
}

unique_child_id create_group_item_from_parts(std::wstring_view group_path, std::wstring_view display_name)
{
    auto id = allocate_item(item_kind::quick_pins_group);
    auto* item = data_of(id);
    copy_text(item->path, group_path);
    copy_text(item->name, display_name);
    item->stamp = file_stamp(std::wstring(group_path).c_str());
    return id;
}

unique_child_id create_empty_result_item()
{
    return allocate_item(item_kind::search_result);
}

std::uint64_t file_stamp(const WIN32_FILE_ATTRIBUTE_DATA& attributes) noexcept
{
    const std::uint64_t last_write =
        (static_cast<std::uint64_t>(attributes.ftLastWriteTime.dwHighDateTime) << 32) |
        attributes.ftLastWriteTime.dwLowDateTime;
    const std::uint64_t size =
        (static_cast<std::uint64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
    const std::uint64_t stamp = last_write ^ (size << 1);
    // 0 is kept for "no attributes": a file whose time and size happen to cancel out still has some.
    return stamp != 0 ? stamp : 1;
}

std::uint64_t file_stamp(const wchar_t* path) noexcept
{
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (!path || !GetFileAttributesExW(path, GetFileExInfoStandard, &attributes))
        return 0;
    return file_stamp(attributes);
}

void refresh_stamp(search_and_action_item_data* item) noexcept
{
    // The field of a foreign-made record need not hold its NUL.
    constexpr std::size_t units = sizeof(search_and_action_item_data::path) / sizeof(wchar_t);
    wchar_t path[units + 1];
    std::memcpy(path, item->path, sizeof(item->path));
    path[units] = L'\0';
    item->stamp = file_stamp(path);
}
