#pragma once
// Writes published Menuwright models (control file and snapshot) the way Menuwright lays them out, for
// tests, the fuzz seed corpus and the demo. Not part of the DLL.
//
// Every record starts out valid: texts point at the pool's empty text, kinds and ranges are 0. Tests build
// a valid model, then break one rule by changing one word of one record (or of the finished bytes).

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace menuwright_writer
{

inline constexpr std::uint32_t magic = 0x504243D6;
inline constexpr std::uint32_t version = 18;

struct text_ref
{
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
};

template <std::size_t Words>
struct record
{
    static constexpr std::size_t word_count = Words;
    std::array<std::uint32_t, Words> words{};

    void set_text(std::size_t word, text_ref text)
    {
        words.at(word) = text.offset;
        words.at(word + 1) = text.length;
    }
    void set_range(std::size_t word, std::uint32_t first, std::uint32_t count)
    {
        words.at(word) = first;
        words.at(word + 1) = count;
    }
};

using scope_record = record<18>;
using item_record = record<34>;
using text_list_record = record<2>;
using definition_record = record<28>;

// Byte offsets of a built snapshot's parts.
struct snapshot_layout
{
    std::uint32_t scopes = 0;
    std::uint32_t items = 0;
    std::uint32_t text_lists = 0;
    std::uint32_t definitions = 0;
    std::uint32_t pool = 0;
    std::uint32_t pool_bytes = 0;
    std::uint32_t total_size = 0;

    std::uint32_t scope(std::uint32_t index) const { return scopes + index * 72; }
    std::uint32_t item(std::uint32_t index) const { return items + index * 136; }
    std::uint32_t text_list(std::uint32_t index) const { return text_lists + index * 8; }
    std::uint32_t definition(std::uint32_t index) const { return definitions + index * 112; }
};

class snapshot_builder
{
public:
    // The pool starts with the empty text (a lone NUL at offset 0), which every default record uses.
    snapshot_builder();

    // Appends a NUL-terminated text to the pool; the same text added twice is stored once, as Menuwright
    // interns its texts.
    text_ref text(std::u16string_view value);
    // Appends a text even when an equal one exists.
    text_ref unique_text(std::u16string_view value);

    std::uint32_t add_scope(const scope_record& scope = {});
    std::uint32_t add_item(const item_record& item);
    std::uint32_t add_text_list(const text_list_record& entry = {});
    std::uint32_t add_definition(const definition_record& definition = {});

    // A kind-0 item with the given catalog identifier and nothing else.
    std::uint32_t add_catalog_item(std::u16string_view catalog_id);
    // A kind-0 "product:quick-pins" item naming a group and its folder (which may be empty).
    std::uint32_t add_quick_pins_group(std::u16string_view name, std::u16string_view folder);
    // An item of another kind (1 to 10) with empty texts.
    std::uint32_t add_plain_item(std::uint32_t kind);

    scope_record& scope(std::uint32_t index) { return scopes_.at(index); }
    item_record& item(std::uint32_t index) { return items_.at(index); }
    text_list_record& text_list(std::uint32_t index) { return text_lists_.at(index); }
    definition_record& definition(std::uint32_t index) { return definitions_.at(index); }

    std::uint32_t item_count() const { return static_cast<std::uint32_t>(items_.size()); }

    // Header words that a test may want to change before building.
    std::uint32_t state = 2;
    std::uint32_t unchecked_header_word = 0;
    text_ref header_text{};

    // Layout: header, scopes, items, text lists, definitions, text pool. The total size in the header is
    // the snapshot's own size; `padding` zero bytes follow it in the file.
    std::vector<std::byte> build(std::size_t padding = 0) const;
    snapshot_layout layout() const;

    // Bytes a snapshot of the current content would take (without padding).
    std::size_t size() const { return layout().total_size; }

private:
    std::u16string pool_;
    std::map<std::u16string, text_ref, std::less<>> interned_;
    std::vector<scope_record> scopes_;
    std::vector<item_record> items_;
    std::vector<text_list_record> text_lists_;
    std::vector<definition_record> definitions_;
};

// A valid model that uses every kind of record and every optional field: scopes with item ranges, nested
// items, every catalog identifier form, a user item with its texts and text list, a quick-browse item,
// definitions with every switch set, and the quick pins groups "Reports" (folder
// "%USERPROFILE%\Reports") and "Inbox" (no folder), in that order among the other items.
snapshot_builder sample_model();

// The 12-byte control file naming snapshot `number`.
std::vector<std::byte> control_file(std::int32_t number, std::uint32_t file_magic = magic,
                                    std::uint32_t file_version = version);

// "custom-model-snapshot-<number>.bin"
std::string snapshot_file_name(std::int32_t number);
inline constexpr std::string_view control_file_name = "custom-model-control.bin";

std::uint32_t get_word(const std::vector<std::byte>& bytes, std::size_t offset);
void put_word(std::vector<std::byte>& bytes, std::size_t offset, std::uint32_t value);
void put_unit(std::vector<std::byte>& bytes, std::size_t offset, char16_t value);

} // namespace menuwright_writer
