#include "quick_pins/menuwright_snapshot.h"

#include <array>
#include <unordered_map>
#include <utility>

namespace menuwright
{
namespace
{

// Little-endian loads that neither assume alignment nor the host's byte order; compilers turn them into
// plain loads on every target we build for.
std::uint32_t load_u32(const std::byte* p) noexcept
{
    return std::to_integer<std::uint32_t>(p[0]) | std::to_integer<std::uint32_t>(p[1]) << 8 |
           std::to_integer<std::uint32_t>(p[2]) << 16 | std::to_integer<std::uint32_t>(p[3]) << 24;
}

char16_t load_u16(const std::byte* p) noexcept
{
    return static_cast<char16_t>(std::to_integer<unsigned>(p[0]) | std::to_integer<unsigned>(p[1]) << 8);
}

constexpr bool is_name_unit(char16_t c) noexcept
{
    return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-' || c == u'.' || c == u'_';
}

constexpr bool is_lower_hex_unit(char16_t c) noexcept
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
}

constexpr std::size_t braced_guid_length = 38;

// The grammar runs over any sequence of code units, so that the snapshot's identifiers are checked where
// they lie in the text pool instead of being copied out first. `at(i)` yields unit i of `n`.
template <class At>
bool has_at(const At& at, std::size_t n, std::size_t pos, std::u16string_view expected) noexcept
{
    if (pos > n || n - pos < expected.size())
        return false;
    for (std::size_t i = 0; i < expected.size(); ++i)
    {
        if (at(pos + i) != expected[i])
            return false;
    }
    return true;
}

// One or more name units from `pos` to the end.
template <class At>
bool is_name_from(const At& at, std::size_t n, std::size_t pos) noexcept
{
    if (pos >= n)
        return false;
    for (std::size_t i = pos; i < n; ++i)
    {
        if (!is_name_unit(at(i)))
            return false;
    }
    return true;
}

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" at `pos`, lower-case hex digits only.
template <class At>
bool is_braced_guid_at(const At& at, std::size_t n, std::size_t pos) noexcept
{
    if (pos > n || n - pos < braced_guid_length)
        return false;
    for (std::size_t i = 0; i < braced_guid_length; ++i)
    {
        const char16_t c = at(pos + i);
        bool ok;
        switch (i)
        {
        case 0: ok = c == u'{'; break;
        case 37: ok = c == u'}'; break;
        case 9:
        case 14:
        case 19:
        case 24: ok = c == u'-'; break;
        default: ok = is_lower_hex_unit(c); break;
        }
        if (!ok)
            return false;
    }
    return true;
}

template <class At>
catalog_kind classify_catalog_id(const At& at, std::size_t n) noexcept
{
    constexpr std::u16string_view windows_prefix = u"windows:";
    constexpr std::u16string_view product_prefix = u"product:";
    constexpr std::u16string_view user_prefix = u"user:";
    constexpr std::u16string_view ephemeral_prefix = u"ephemeral:";
    constexpr std::u16string_view com_prefix = u"com:";
    constexpr std::u16string_view canonical_infix = u":canonical:";
    constexpr std::u16string_view catalog_infix = u":catalog:";

    if (has_at(at, n, 0, windows_prefix))
        return is_name_from(at, n, windows_prefix.size()) ? catalog_kind::windows : catalog_kind::invalid;
    if (has_at(at, n, 0, product_prefix))
        return is_name_from(at, n, product_prefix.size()) ? catalog_kind::product : catalog_kind::invalid;
    if (has_at(at, n, 0, user_prefix))
    {
        return n == user_prefix.size() + braced_guid_length && is_braced_guid_at(at, n, user_prefix.size())
                   ? catalog_kind::user
                   : catalog_kind::invalid;
    }
    if (has_at(at, n, 0, ephemeral_prefix))
        return n > ephemeral_prefix.size() ? catalog_kind::ephemeral : catalog_kind::invalid;
    if (has_at(at, n, 0, com_prefix) && is_braced_guid_at(at, n, com_prefix.size()))
    {
        constexpr std::size_t infix_at = com_prefix.size() + braced_guid_length;
        if (has_at(at, n, infix_at, canonical_infix))
        {
            constexpr std::size_t second_guid_at = infix_at + canonical_infix.size();
            return n == second_guid_at + braced_guid_length && is_braced_guid_at(at, n, second_guid_at)
                       ? catalog_kind::com_canonical
                       : catalog_kind::invalid;
        }
        if (has_at(at, n, infix_at, catalog_infix))
        {
            return is_name_from(at, n, infix_at + catalog_infix.size()) ? catalog_kind::com_catalog
                                                                         : catalog_kind::invalid;
        }
    }
    return catalog_kind::invalid;
}

struct table
{
    std::uint32_t count = 0;
    std::uint32_t offset = 0;
};

// A table (and the text pool, as a table of bytes) lies after the header and inside the total size.
bool table_fits(table t, std::uint64_t record_size, std::uint64_t total_size) noexcept
{
    return t.count == 0 ||
           (t.offset >= header_size && std::uint64_t{t.offset} + std::uint64_t{t.count} * record_size <= total_size);
}

bool range_fits(std::uint32_t first, std::uint32_t count, std::uint32_t records) noexcept
{
    if (count == 0)
        return first == 0xFFFFFFFF || first <= records;
    return first < records && count <= records - first;
}

class snapshot_checker
{
public:
    explicit snapshot_checker(std::span<const std::byte> bytes) noexcept : bytes_(bytes) {}

    bool check()
    {
        if (!check_header() || !check_text(header_text_offset_, header_text_length_))
            return false;
        for (std::uint32_t i = 0; i < scopes_.count; ++i)
        {
            if (!check_scope(scopes_.offset + std::size_t{i} * scope_record_size))
                return false;
        }
        for (std::uint32_t i = 0; i < text_lists_.count; ++i)
        {
            if (!check_text_at(text_lists_.offset + std::size_t{i} * text_list_record_size, 0))
                return false;
        }
        for (std::uint32_t i = 0; i < items_.count; ++i)
        {
            if (!check_item(item_offset(i)))
                return false;
        }
        for (std::uint32_t i = 0; i < definitions_.count; ++i)
        {
            if (!check_definition(definitions_.offset + std::size_t{i} * definition_record_size))
                return false;
        }
        return true;
    }

    // Only meaningful once check() has passed.
    std::vector<pin_group_text> pin_group_texts() const
    {
        // Sized before anything is copied, so that a snapshot that shares one long folder text among
        // thousands of records is turned down instead of being expanded.
        std::size_t total_units = 0;
        std::size_t records = 0;
        for (std::uint32_t i = 0; i < items_.count; ++i)
        {
            const std::size_t item = item_offset(i);
            if (is_quick_pins_item(item) && word(item, 27) != 0)
            {
                total_units += std::size_t{word(item, 27)} + word(item, 29);
                ++records;
                if (total_units > max_extracted_text_units)
                    return {};
            }
        }

        std::vector<pin_group_text> groups;
        groups.reserve(records);
        for (std::uint32_t i = 0; i < items_.count; ++i)
        {
            const std::size_t item = item_offset(i);
            if (is_quick_pins_item(item) && word(item, 27) != 0)
                groups.push_back({copy_text(word(item, 26), word(item, 27)), copy_text(word(item, 28), word(item, 29))});
        }
        return groups;
    }

private:
    // Identifiers up to this length are cheap enough to classify every time they are met.
    static constexpr std::uint32_t short_id_length = 128;

    std::uint32_t word(std::size_t record, std::size_t index) const noexcept
    {
        return load_u32(bytes_.data() + record + 4 * index);
    }

    char16_t unit(std::uint32_t index) const noexcept
    {
        return load_u16(bytes_.data() + pool_offset_ + 2 * std::size_t{index});
    }

    std::size_t item_offset(std::uint32_t index) const noexcept
    {
        return items_.offset + std::size_t{index} * item_record_size;
    }

    bool check_header() noexcept
    {
        if (bytes_.size() < header_size)
            return false;
        const auto header_word = [this](std::size_t index) { return word(0, index); };
        if (header_word(0) != model_magic || header_word(1) != model_version)
            return false;
        const std::uint32_t total_size = header_word(3);
        if (total_size > bytes_.size() || total_size > max_snapshot_size)
            return false;
        const std::uint32_t state = header_word(4);
        if (state != 2 && state != 3)
            return false;
        header_text_offset_ = header_word(5);
        header_text_length_ = header_word(6);
        scopes_ = {header_word(7), header_word(8)};
        items_ = {header_word(9), header_word(10)};
        text_lists_ = {header_word(11), header_word(12)};
        definitions_ = {header_word(13), header_word(14)};
        pool_offset_ = header_word(15);
        const std::uint32_t pool_bytes = header_word(16);
        if (pool_offset_ % 2 != 0 || pool_bytes % 2 != 0)
            return false;
        if (!table_fits(scopes_, scope_record_size, total_size) || !table_fits(items_, item_record_size, total_size) ||
            !table_fits(text_lists_, text_list_record_size, total_size) ||
            !table_fits(definitions_, definition_record_size, total_size) ||
            !table_fits({pool_bytes, pool_offset_}, 1, total_size))
        {
            return false;
        }
        pool_units_ = pool_bytes / 2;
        // Whatever the publisher left after its total size is not part of the snapshot.
        bytes_ = bytes_.first(total_size);
        return true;
    }

    // Texts are NUL-terminated inside the pool; the terminator is where the length says it is.
    bool check_text(std::uint32_t offset, std::uint32_t length) const noexcept
    {
        return offset <= pool_units_ && length < pool_units_ - offset && unit(offset + length) == 0;
    }

    bool check_text_at(std::size_t record, std::size_t index) const noexcept
    {
        return check_text(word(record, index), word(record, index + 1));
    }

    bool text_equals(std::uint32_t offset, std::uint32_t length, std::u16string_view expected) const noexcept
    {
        if (length != expected.size())
            return false;
        for (std::uint32_t i = 0; i < length; ++i)
        {
            if (unit(offset + i) != expected[i])
                return false;
        }
        return true;
    }

    std::u16string copy_text(std::uint32_t offset, std::uint32_t length) const
    {
        std::u16string text(length, u'\0');
        for (std::uint32_t i = 0; i < length; ++i)
            text[i] = unit(offset + i);
        return text;
    }

    // Thousands of items may name the same long identifier; classifying it each time would make the check
    // quadratic in the snapshot's size. A valid "windows:", "product:" or "com:...:catalog:" identifier
    // runs up to the first NUL, so one at a given offset has only one valid length, and remembering the
    // answer per offset settles every later repeat at once.
    catalog_kind catalog_kind_of(std::uint32_t offset, std::uint32_t length)
    {
        const auto at = [this, offset](std::size_t i) { return unit(offset + static_cast<std::uint32_t>(i)); };
        if (length <= short_id_length)
            return classify_catalog_id(at, length);
        auto [known, inserted] = long_ids_.try_emplace(offset, length, catalog_kind::invalid);
        if (inserted || known->second.first != length)
            known->second = {length, classify_catalog_id(at, length)};
        return known->second.second;
    }

    bool is_quick_pins_item(std::size_t item) const noexcept
    {
        return word(item, 2) == 0 && text_equals(word(item, 3), word(item, 4), quick_pins_catalog_id);
    }

    bool check_group_name(std::uint32_t offset, std::uint32_t length) const noexcept
    {
        if (length == 0 || length > max_group_name_length)
            return false;
        for (std::uint32_t i = 0; i < length; ++i)
        {
            const char16_t c = unit(offset + i);
            if (c < 0x20 || c == 0x7F)
                return false;
        }
        return true;
    }

    bool check_scope(std::size_t scope) const noexcept
    {
        for (std::size_t text : {0, 3, 5, 7, 9, 11})
        {
            if (!check_text_at(scope, text))
                return false;
        }
        return word(scope, 2) <= 9 && range_fits(word(scope, 13), word(scope, 14), items_.count) &&
               word(scope, 15) <= 3 && range_fits(word(scope, 16), word(scope, 17), items_.count);
    }

    bool check_item(std::size_t item)
    {
        const std::uint32_t kind = word(item, 2);
        if (kind > 10 || !check_text_at(item, 0) || !check_text_at(item, 3) || !check_text_at(item, 5) ||
            word(item, 7) > 2 || !range_fits(word(item, 8), word(item, 9), items_.count))
        {
            return false;
        }

        bool user = false;
        bool quick_pins = false;
        bool quick_browse = false;
        if (kind == 0)
        {
            const std::uint32_t id_offset = word(item, 3);
            const std::uint32_t id_length = word(item, 4);
            const catalog_kind id_kind = catalog_kind_of(id_offset, id_length);
            if (id_kind == catalog_kind::invalid || id_kind == catalog_kind::ephemeral)
                return false;
            user = id_kind == catalog_kind::user;
            quick_pins = text_equals(id_offset, id_length, quick_pins_catalog_id);
            quick_browse = text_equals(id_offset, id_length, quick_browse_catalog_id);
        }

        // Words 10-11 are a text only on user items; elsewhere only their length is fixed.
        if (user ? !check_text_at(item, 10) : word(item, 11) != 0)
            return false;
        if (!range_fits(word(item, 12), word(item, 13), text_lists_.count) || (!user && word(item, 13) != 0))
            return false;
        if (!check_text_at(item, 14) || !check_text_at(item, 16))
            return false;
        if (!check_text_at(item, 18) || (!user && word(item, 19) != 0))
            return false;
        if (!check_text_at(item, 23) || (!quick_browse && word(item, 24) != 0))
            return false;
        if (!check_text_at(item, 26))
            return false;
        if (quick_pins ? !check_group_name(word(item, 26), word(item, 27)) : word(item, 27) != 0)
            return false;
        return check_text_at(item, 28) && (quick_pins || word(item, 29) == 0);
    }

    bool check_definition(std::size_t definition) const noexcept
    {
        for (std::size_t text : {0, 3, 7, 9, 11, 13, 16, 20})
        {
            if (!check_text_at(definition, text))
                return false;
        }
        const std::uint32_t presentation = word(definition, 15);
        return word(definition, 2) <= 1 && (word(definition, 5) == 0 || word(definition, 6) <= 9) &&
               presentation <= 2 && (presentation != 2 || word(definition, 17) != 0) && word(definition, 22) <= 3;
    }

    std::span<const std::byte> bytes_;
    std::uint32_t header_text_offset_ = 0;
    std::uint32_t header_text_length_ = 0;
    table scopes_;
    table items_;
    table text_lists_;
    table definitions_;
    std::uint32_t pool_offset_ = 0;
    std::uint32_t pool_units_ = 0;
    std::unordered_map<std::uint32_t, std::pair<std::uint32_t, catalog_kind>> long_ids_;
};

} // namespace

catalog_kind catalog_id_kind(std::u16string_view id) noexcept
{
    return classify_catalog_id([id](std::size_t i) { return id[i]; }, id.size());
}

std::optional<std::int32_t> parse_control_file(std::span<const std::byte> bytes) noexcept
{
    if (bytes.size() != control_file_size)
        return std::nullopt;
    if (load_u32(bytes.data()) != model_magic || load_u32(bytes.data() + 4) != model_version)
        return std::nullopt;
    const auto number = static_cast<std::int32_t>(load_u32(bytes.data() + 8));
    if (number < 1)
        return std::nullopt;
    return number;
}

bool is_valid_snapshot(std::span<const std::byte> snapshot)
{
    return snapshot_checker(snapshot).check();
}

std::vector<pin_group_text> read_pin_group_texts(std::span<const std::byte> snapshot)
{
    snapshot_checker checker(snapshot);
    if (!checker.check())
        return {};
    return checker.pin_group_texts();
}

} // namespace menuwright
