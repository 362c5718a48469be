#pragma once
// The byte-level reader of the command model that Menuwright publishes: the control file that names the
// current snapshot, the snapshot itself, and the catalog identifiers its items carry.
//
// Menuwright is another program and may be half-way through publishing, or may have written something
// this reader does not understand, so a snapshot is used only when every record in it checks out; one bad
// text, range, kind or identifier anywhere and the whole snapshot counts as absent.
//
// Nothing here knows Windows: bytes go in, UTF-16 texts come out (char16_t, so that it builds and can be
// fuzzed natively as well).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace menuwright
{

inline constexpr std::uint32_t model_magic = 0x504243D6;
inline constexpr std::uint32_t model_version = 18;

inline constexpr std::size_t control_file_size = 12;
inline constexpr std::size_t max_snapshot_size = 0x400000;

inline constexpr std::size_t header_size = 68;
inline constexpr std::size_t scope_record_size = 72;
inline constexpr std::size_t item_record_size = 136;
inline constexpr std::size_t text_list_record_size = 8;
inline constexpr std::size_t definition_record_size = 112;

// The longest quick pins group name, in UTF-16 code units.
inline constexpr std::size_t max_group_name_length = 64;

// Quick pins records share their folder text when Menuwright interns it, so a few kilobytes of snapshot
// can stand for gigabytes of copied folder texts. Past this many code units in all, the snapshot is
// treated as absent rather than expanded.
inline constexpr std::size_t max_extracted_text_units = 0x400000;

inline constexpr std::u16string_view quick_pins_catalog_id = u"product:quick-pins";
inline constexpr std::u16string_view quick_browse_catalog_id = u"product:quick-browse";

enum class catalog_kind : std::uint8_t
{
    invalid = 0,
    windows = 1,
    com_canonical = 2,
    com_catalog = 3,
    product = 4,
    user = 5,
    ephemeral = 6,
};

// The kind of a catalog identifier: "windows:name", "com:{guid}:canonical:{guid}",
// "com:{guid}:catalog:name", "product:name", "user:{guid}", "ephemeral:anything"; `invalid` otherwise.
// Names are lower-case letters, digits, '-', '.' and '_'; GUIDs are braced with lower-case hex digits.
catalog_kind catalog_id_kind(std::u16string_view id) noexcept;

// The snapshot number that a control file names, or nothing when the bytes are not exactly a control
// file of this version (12 bytes, magic, version, a number of at least 1).
std::optional<std::int32_t> parse_control_file(std::span<const std::byte> bytes) noexcept;

// True when the snapshot passes every check: header, tables, text pool, and each scope, text-list,
// item and definition record. Bytes past the snapshot's own total size are never looked at.
// Throws std::bad_alloc only.
bool is_valid_snapshot(std::span<const std::byte> snapshot);

// One quick pins group as the model names it; the folder text may be empty and may hold variables.
struct pin_group_text
{
    std::u16string name;
    std::u16string folder;

    friend bool operator==(const pin_group_text&, const pin_group_text&) = default;
};

// The quick pins group records of a valid snapshot, in item-table order; empty when the snapshot is not
// valid. Throws std::bad_alloc only.
std::vector<pin_group_text> read_pin_group_texts(std::span<const std::byte> snapshot);

} // namespace menuwright
