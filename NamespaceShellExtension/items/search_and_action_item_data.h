#pragma once
// The item identifier of everything the "Sortwell" and "Quick pins" roots show. Explorer keeps these in
// its navigation history, pinned locations and shortcuts, so the record is a persistent format: 12064
// bytes, every kind the same size, each text a NUL-terminated UTF-16 array padded with zeros. It carries
// the full path, the display name and a saved search's query, so every operation can work from the
// identifier alone.
//
// Identifiers come back from Explorer long after we made them, possibly from an older build or from
// another extension: recognise them with own_item_data() before reading anything. The layout and the
// accessors are in search_and_action_item_layout.h; this header adds what needs the system.

#include "base/raii.h"
#include "items/search_and_action_item_layout.h"
#include "quick_pins/quick_pins_store.h"
#include "search/search_result_record.h"
#include "search/volume_guard.h"
#include "settings/all_people_settings.h"
#include "settings/all_tags_settings.h"
#include "settings/namespace_settings.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The record behind a child identifier, or null when the identifier is not one of ours (null, or its
// size field does not read 12064). The kind is not checked: callers that branch on it reject values
// above 5 themselves.
const search_and_action_item_data* own_item_data(PCUITEMID_CHILD child) noexcept;
search_and_action_item_data* own_item_data(PITEMID_CHILD child) noexcept;

// Constructors. Each returns a complete 12066-byte identifier from the COM task allocator; text that
// does not fit is cut to the field. They throw std::bad_alloc when memory runs out.

// An organised folder: "<main root>\<name>", the folder's order and icon.
unique_child_id create_folder_item(const namespace_settings::folder_record& folder);

// A saved search inside `folder`, with its references replaced; or a quick pin (kind 4) when the query
// has a target that resolves to a path without any "$" left in it.
unique_child_id create_search_item(const namespace_settings::folder_record& folder,
                                   const namespace_settings::query_record& query,
                                   const std::vector<all_tags_settings::tag_record>& tags,
                                   const std::vector<all_people_settings::person_record>& people);

// What a search result's identifier is made of once the result has passed its checks: the path as the
// search returned it, the keywords and the people each sorted and joined with ";", and the file's change
// stamp. An enumerator keeps these (a few hundred bytes) instead of 12066-byte identifiers and makes each
// identifier when it hands it out.
class result_row
{
public:
    result_row(std::wstring_view path, const std::vector<std::wstring>& keywords,
               const std::vector<std::wstring>& people, std::uint64_t stamp);

    std::wstring_view path() const noexcept { return std::wstring_view(text_).substr(0, path_length_); }
    std::wstring_view keywords() const noexcept
    {
        return std::wstring_view(text_).substr(path_length_ + 1, keywords_length_);
    }
    std::wstring_view people() const noexcept
    {
        return std::wstring_view(text_).substr(path_length_ + 1 + keywords_length_ + 1);
    }
    std::uint64_t stamp() const noexcept { return stamp_; }

private:
    // The path, the keywords and the people, one after another, each followed by a NUL.
    std::wstring text_;
    std::size_t path_length_ = 0;
    std::size_t keywords_length_ = 0;
    std::uint64_t stamp_ = 0;
};

// The checks of a search result: none when its path lies in a recycle bin, on a volume the
// unresponsive-volume guard will not touch, or the file is gone; otherwise its row, with the stamp of the
// attributes just read.
std::optional<result_row> check_result(const std::wstring& path, const std::vector<std::wstring>& keywords,
                                       const std::vector<std::wstring>& people, volume_guard& guard);
// The rows of a search's records that pass the checks, in the records' order, asking the process's guard.
std::vector<result_row> check_results(std::span<const search_result_record> records);
// The identifier of a checked row.
unique_child_id create_result_item(const result_row& row);

// A search result, or an empty identifier when the result is dropped (check_result).
unique_child_id create_result_item(std::wstring_view path, const std::vector<std::wstring>& keywords,
                                   const std::vector<std::wstring>& people);
unique_child_id create_result_item(const search_result_record& record);
// The same, asking `guard` instead of the process's guard.
unique_child_id create_result_item(std::wstring_view path, const std::vector<std::wstring>& keywords,
                                   const std::vector<std::wstring>& people, volume_guard& guard);

// The result items of a search's rows, in the rows' order, without the rows that create_result_item
// drops: what a listing of the search hands to the view.
std::vector<unique_child_id> create_result_items(const std::vector<search_result_record>& records);

// A quick pins store entry: a group (kind 5) or a pin (kind 4). `position` is the entry's index in the
// listing it came from, counting every entry of it, also those not turned into items.
unique_child_id create_pin_item(const quick_pin_entry& entry, std::size_t position);

// A quick pin from its parts (kind 4), with the stamp of `target_path`.
unique_child_id create_pin_item_from_parts(std::wstring_view target_path, std::wstring_view display_name,
                                           std::wstring_view link_path);
// A quick pins group from its parts (kind 5), with the stamp of its folder.
unique_child_id create_group_item_from_parts(std::wstring_view group_path, std::wstring_view display_name);
// A search result with an empty path, for the caller to fill in.
unique_child_id create_empty_result_item();

// Whether a result path lies in a recycle bin: "\$recycle.bin\" or "\$recycler\" in its lower-cased,
// backslash-separated form.
bool is_recycle_bin_path(std::wstring_view path);

// The change stamp of the file or folder at `path`: last-write time XOR (size shifted left by one);
// 1 when that gives 0, and 0 only when the attributes cannot be read.
std::uint64_t file_stamp(const wchar_t* path) noexcept;
std::uint64_t file_stamp(const WIN32_FILE_ATTRIBUTE_DATA& attributes) noexcept;

// Recomputes `stamp` from the file at `path`.
void refresh_stamp(search_and_action_item_data* item) noexcept;
