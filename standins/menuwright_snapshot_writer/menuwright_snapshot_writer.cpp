#include "menuwright_snapshot_writer.h"

#include <stdexcept>

namespace menuwright_writer
{
namespace
{

constexpr std::size_t header_bytes = 68;

template <class Record>
void put_records(std::vector<std::byte>& bytes, std::size_t offset, const std::vector<Record>& records)
{
    for (const auto& r : records)
    {
        for (std::uint32_t w : r.words)
        {
            put_word(bytes, offset, w);
            offset += 4;
        }
    }
}

template <class Record>
std::uint32_t append(std::vector<Record>& records, const Record& r)
{
    records.push_back(r);
    return static_cast<std::uint32_t>(records.size() - 1);
}

} // namespace

snapshot_builder::snapshot_builder()
{
    pool_.push_back(u'\0');
    interned_.emplace(std::u16string(), text_ref{0, 0});
}

text_ref snapshot_builder::text(std::u16string_view value)
{
    if (auto found = interned_.find(value); found != interned_.end())
        return found->second;
    const text_ref ref = unique_text(value);
    interned_.emplace(std::u16string(value), ref);
    return ref;
}

text_ref snapshot_builder::unique_text(std::u16string_view value)
{
    const text_ref ref{static_cast<std::uint32_t>(pool_.size()), static_cast<std::uint32_t>(value.size())};
    pool_.append(value);
    pool_.push_back(u'\0');
    return ref;
}

std::uint32_t snapshot_builder::add_scope(const scope_record& scope)
{
    return append(scopes_, scope);
}

std::uint32_t snapshot_builder::add_item(const item_record& item)
{
    return append(items_, item);
}

std::uint32_t snapshot_builder::add_text_list(const text_list_record& entry)
{
    return append(text_lists_, entry);
}

std::uint32_t snapshot_builder::add_definition(const definition_record& definition)
{
    return append(definitions_, definition);
}

std::uint32_t snapshot_builder::add_catalog_item(std::u16string_view catalog_id)
{
    item_record item;
    item.set_text(3, text(catalog_id));
    return add_item(item);
}

std::uint32_t snapshot_builder::add_quick_pins_group(std::u16string_view name, std::u16string_view folder)
{
    item_record item;
    item.set_text(3, text(u"product:quick-pins"));
    item.set_text(26, text(name));
    item.set_text(28, text(folder));
    return add_item(item);
}

std::uint32_t snapshot_builder::add_plain_item(std::uint32_t kind)
{
    item_record item;
    item.words[2] = kind;
    return add_item(item);
}

snapshot_layout snapshot_builder::layout() const
{
    snapshot_layout l;
    l.scopes = static_cast<std::uint32_t>(header_bytes);
    l.items = l.scopes + static_cast<std::uint32_t>(scopes_.size() * 72);
    l.text_lists = l.items + static_cast<std::uint32_t>(items_.size() * 136);
    l.definitions = l.text_lists + static_cast<std::uint32_t>(text_lists_.size() * 8);
    l.pool = l.definitions + static_cast<std::uint32_t>(definitions_.size() * 112);
    l.pool_bytes = static_cast<std::uint32_t>(pool_.size() * 2);
    l.total_size = l.pool + l.pool_bytes;
    return l;
}

std::vector<std::byte> snapshot_builder::build(std::size_t padding) const
{
    const snapshot_layout l = layout();
    std::vector<std::byte> bytes(l.total_size + padding);
    const std::uint32_t header[17] = {
        magic,
        version,
        unchecked_header_word,
        l.total_size,
        state,
        header_text.offset,
        header_text.length,
        static_cast<std::uint32_t>(scopes_.size()),
        l.scopes,
        static_cast<std::uint32_t>(items_.size()),
        l.items,
        static_cast<std::uint32_t>(text_lists_.size()),
        l.text_lists,
        static_cast<std::uint32_t>(definitions_.size()),
        l.definitions,
        l.pool,
        l.pool_bytes,
    };
    for (std::size_t i = 0; i < 17; ++i)
        put_word(bytes, 4 * i, header[i]);
    put_records(bytes, l.scopes, scopes_);
    put_records(bytes, l.items, items_);
    put_records(bytes, l.text_lists, text_lists_);
    put_records(bytes, l.definitions, definitions_);
    for (std::size_t i = 0; i < pool_.size(); ++i)
        put_unit(bytes, l.pool + 2 * i, pool_[i]);
    return bytes;
}

snapshot_builder sample_model()
{
    snapshot_builder b;
    b.header_text = b.text(u"Velmora custom model");

    // 0: a Windows verb whose sub-menu holds items 1 and 2.
    item_record copy;
    copy.set_text(0, b.text(u"Copy"));
    copy.set_text(3, b.text(u"windows:copy"));
    copy.set_text(5, b.text(u"shell32.dll,-243"));
    copy.words[7] = 2;
    copy.set_range(8, 1, 2);
    copy.set_text(14, b.text(u"Copies the selection"));
    copy.set_text(16, b.text(u"Ctrl+C"));
    b.add_item(copy);

    // 1, 2: the two COM forms.
    b.add_catalog_item(u"com:{a1b2c3d4-0000-4000-8000-00aabbccddee}:canonical:{0f0e0d0c-0b0a-4909-8807-060504030201}");
    b.add_catalog_item(u"com:{a1b2c3d4-0000-4000-8000-00aabbccddee}:catalog:open-with.v2_x");

    // 3: the first quick pins group.
    b.add_quick_pins_group(u"Reports", u"%USERPROFILE%\\Reports");

    // 4: quick browse carries its start folder.
    item_record browse;
    browse.set_text(3, b.text(u"product:quick-browse"));
    browse.set_text(23, b.text(u"C:\\Users"));
    b.add_item(browse);

    // 5: a user command with its program, arguments and working folder.
    item_record user;
    user.set_text(0, b.text(u"List folder"));
    user.set_text(3, b.text(u"user:{0123abcd-4567-89ef-0123-456789abcdef}"));
    user.set_text(10, b.text(u"cmd.exe"));
    user.set_range(12, 0, 2);
    user.set_text(18, b.text(u"%TEMP%"));
    b.add_item(user);

    // 6: an item of another kind may carry any valid text as its identifier, ephemeral ones included.
    item_record session;
    session.words[2] = 3;
    session.set_text(3, b.text(u"ephemeral:session-1"));
    b.add_item(session);

    // 7: the second quick pins group, in the default folder.
    b.add_quick_pins_group(u"Inbox", u"");

    // 8: the highest item kind, and the unchecked words set to noise.
    item_record separator;
    separator.words[2] = 10;
    for (std::size_t w : {20, 21, 22, 25, 30, 31, 32, 33})
        separator.words[w] = 0xDEADBEEF;
    b.add_item(separator);

    text_list_record switch_c;
    switch_c.set_text(0, b.text(u"/c"));
    b.add_text_list(switch_c);
    text_list_record dir;
    dir.set_text(0, b.text(u"dir"));
    b.add_text_list(dir);

    scope_record desktop;
    desktop.set_text(0, b.text(u"Desktop"));
    desktop.set_text(3, b.text(u"*"));
    desktop.words[2] = 9;
    desktop.set_range(13, 0, 9);
    desktop.words[15] = 3;
    desktop.set_range(16, 3, 5);
    b.add_scope(desktop);
    scope_record none;
    none.set_range(13, 0xFFFFFFFF, 0);
    none.set_range(16, 9, 0);
    b.add_scope(none);

    definition_record shown;
    shown.set_text(0, b.text(u"Copy"));
    shown.words[2] = 1;
    shown.words[5] = 1;
    shown.words[6] = 9;
    shown.words[15] = 2;
    shown.set_text(16, b.text(u"Copies the selection"));
    shown.words[22] = 3;
    b.add_definition(shown);
    b.add_definition();
    return b;
}

std::vector<std::byte> control_file(std::int32_t number, std::uint32_t file_magic, std::uint32_t file_version)
{
    std::vector<std::byte> bytes(12);
    put_word(bytes, 0, file_magic);
    put_word(bytes, 4, file_version);
    put_word(bytes, 8, static_cast<std::uint32_t>(number));
    return bytes;
}

std::string snapshot_file_name(std::int32_t number)
{
    return "custom-model-snapshot-" + std::to_string(number) + ".bin";
}

std::uint32_t get_word(const std::vector<std::byte>& bytes, std::size_t offset)
{
    if (offset + 4 > bytes.size())
        throw std::out_of_range("get_word past the end");
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= std::to_integer<std::uint32_t>(bytes[offset + i]) << (8 * i);
    return value;
}

void put_word(std::vector<std::byte>& bytes, std::size_t offset, std::uint32_t value)
{
    if (offset + 4 > bytes.size())
        throw std::out_of_range("put_word past the end");
    for (std::size_t i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<std::byte>(value >> (8 * i));
}

void put_unit(std::vector<std::byte>& bytes, std::size_t offset, char16_t value)
{
    if (offset + 2 > bytes.size())
        throw std::out_of_range("put_unit past the end");
    bytes[offset] = static_cast<std::byte>(value & 0xFF);
    bytes[offset + 1] = static_cast<std::byte>(value >> 8);
}

} // namespace menuwright_writer
