#pragma once
// The persistent layout of an item identifier and the accessors that read one. Plain data and text
// work, no system call: the fuzzers build this part natively and feed it arbitrary records.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

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

// The record behind an identifier's bytes, or null when its size field (read without assuming any
// alignment) does not say 12064. The kind is not checked.
inline const search_and_action_item_data* item_data_from_bytes(const void* id) noexcept
{
    if (!id)
        return nullptr;
    std::uint16_t size = 0;
    std::memcpy(&size, id, sizeof(size));
    return size == item_data_size ? static_cast<const search_and_action_item_data*>(id) : nullptr;
}

// Whether `kind` names one of the six kinds.
constexpr bool is_valid_item_kind(std::uint8_t kind) noexcept
{
    return kind <= static_cast<std::uint8_t>(item_kind::quick_pins_group);
}

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

// Path helpers the accessors use: the length of the part of a path that names its volume and is never a
// file name ("C:", "\\?\C:", "\\server\share", "\\?\UNC\server\share", without the separator after
// it; 0 for other paths), the last component after the root, and the parent with the separators before
// the last component dropped.
std::size_t path_root_length(std::wstring_view path) noexcept;
std::wstring path_file_name(std::wstring_view path);
std::wstring path_parent(std::wstring_view path);
