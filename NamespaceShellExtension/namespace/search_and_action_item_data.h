#pragma once
// The item identifier of everything the "Sortwell" and "Quick pins" roots show. Explorer keeps these in
// its navigation history, pinned locations and shortcuts, so the record is a persistent format: 12064
// bytes, every kind the same size, each text a NUL-terminated UTF-16 array padded with zeros. It carries
// the full path, the display name and a saved search's query, so every operation can work from the
// identifier alone.
//
// Identifiers come back from Explorer long after we made them, possibly from an older build or from
// another extension: recognise them with own_item_data() before reading anything.

#include "module/raii.h"
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

enum class item_kind : std::uint8_t
{
    root = 0,
    organized_folder = 1,
    organized_search = 2,
    search_result = 3,
    quick_pin = 4,
    quick_pins_group = 5,
};

// The parsing names of the two roots: "::" and the class id.
inline constexpr wchar_t main_root_parsing_name[] = L"::{249AE234-08DF-4686-AAF3-5D80A15493BE}";
inline constexpr wchar_t quick_pins_root_parsing_name[] = L"::{EA1CD75E-C7FD-4FF7-B0A1-22FE9B594A6E}";

// Packed to 2 bytes: the fields already sit at their natural offsets, but an identifier inside a
// combined ID list follows items of any even size, so `stamp` may lie on a 2-byte boundary only.
#pragma pack(push, 2)
struct search_and_action_item_data
{
    std::uint16_t cb;
    std::uint8_t kind;
    std::uint8_t reserved_1;
    std::uint16_t order;
    wchar_t path[521];
    wchar_t icon[521];
    wchar_t query[2048];
    std::uint8_t action_type;
    std::uint8_t reserved_2;
    wchar_t action_parameters[100];
    wchar_t keywords[1024];
    wchar_t people[1024];
    std::uint8_t reserved_3[4];
    std::uint64_t stamp;
    wchar_t name[260];
    wchar_t link_path[521];
    std::uint8_t reserved_4[6];
};
#pragma pack(pop)

inline constexpr std::uint16_t item_data_size = 12064;
// The record and the 2-byte terminator of a one-item ID list.
inline constexpr std::size_t item_id_list_size = item_data_size + 2;
inline constexpr std::uint16_t no_order = 999;

static_assert(sizeof(search_and_action_item_data) == item_data_size);
static_assert(alignof(search_and_action_item_data) == 2);
static_assert(offsetof(search_and_action_item_data, cb) == 0);
static_assert(offsetof(search_and_action_item_data, kind) == 2);
static_assert(offsetof(search_and_action_item_data, reserved_1) == 3);
static_assert(offsetof(search_and_action_item_data, order) == 4);
static_assert(offsetof(search_and_action_item_data, path) == 6);
static_assert(offsetof(search_and_action_item_data, icon) == 1048);
static_assert(offsetof(search_and_action_item_data, query) == 2090);
static_assert(offsetof(search_and_action_item_data, action_type) == 6186);
static_assert(offsetof(search_and_action_item_data, reserved_2) == 6187);
static_assert(offsetof(search_and_action_item_data, action_parameters) == 6188);
static_assert(offsetof(search_and_action_item_data, keywords) == 6388);
static_assert(offsetof(search_and_action_item_data, people) == 8436);
static_assert(offsetof(search_and_action_item_data, reserved_3) == 10484);
static_assert(offsetof(search_and_action_item_data, stamp) == 10488);
static_assert(offsetof(search_and_action_item_data, name) == 10496);
static_assert(offsetof(search_and_action_item_data, link_path) == 11016);
static_assert(offsetof(search_and_action_item_data, reserved_4) == 12058);

// The record behind a child identifier, or null when the identifier is not one of ours (null, or its
// size field does not read 12064). The kind is not checked: callers that branch on it reject values
// above 5 themselves.
const search_and_action_item_data* own_item_data(PCUITEMID_CHILD child) noexcept;
search_and_action_item_data* own_item_data(PITEMID_CHILD child) noexcept;

// Whether `kind` names one of the six kinds.
constexpr bool is_valid_item_kind(std::uint8_t kind) noexcept
{
    return kind <= static_cast<std::uint8_t>(item_kind::quick_pins_group);
}

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

// Accessors. Each reads a field up to its NUL or to the end of its array, whichever comes first, so an
// identifier without terminators cannot make them read past the record.
std::wstring item_path(const search_and_action_item_data* item);
// The name of a pin or group when it has one; for an organised folder or search the text after the
// last backslash of its namespace path (a slash belongs to the name); otherwise the last component of
// `path` (never the drive or share it starts with; empty when `path` ends in a separator).
std::wstring item_display_name(const search_and_action_item_data* item);
std::wstring item_icon(const search_and_action_item_data* item);
std::wstring item_link_path(const search_and_action_item_data* item);
// The folder that holds the item on disk: the parent of `path` for a group, of `link_path` otherwise.
std::wstring item_container_folder(const search_and_action_item_data* item);
// Recomputes `stamp` from the file at `path`.
void refresh_stamp(search_and_action_item_data* item) noexcept;

// Path helpers the accessors use: the last component after the path's root, and the parent with the
// separators before the last component dropped.
std::wstring path_file_name(std::wstring_view path);
std::wstring path_parent(std::wstring_view path);
