// The snapshot reader on bytes: every rule broken once turns the whole snapshot down, the limits that
// still pass, the grammar of catalog identifiers, and the bound on the folder texts a snapshot gives.

#include "quick_pins/menuwright_snapshot.h"

#include "menuwright_snapshot_writer/menuwright_snapshot_writer.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using menuwright::catalog_kind;
using menuwright::is_valid_snapshot;
using menuwright::read_pin_group_texts;
using namespace menuwright_writer;

namespace
{
std::string narrow(std::u16string_view text)
{
    std::string result;
    for (char16_t c : text)
        result += c < 0x80 ? static_cast<char>(c) : '?';
    return result;
}

// Indices of the sample model's items (see sample_model()).
enum sample_item : std::uint32_t
{
    copy_item = 0, com_catalog_item = 2, reports_group = 3, quick_browse_item = 4,
    user_item = 5, inbox_group = 7, kind_10_item = 8
};

using model_change = std::function<void(snapshot_builder&)>;
using bytes_change = std::function<void(std::vector<std::byte>&, const snapshot_layout&)>;
struct model_row { const char* name; model_change model; bytes_change bytes = {}; };

std::vector<std::byte> build(const model_row& row)
{
    snapshot_builder model = sample_model();
    if (row.model)
        row.model(model);
    std::vector<std::byte> bytes = model.build();
    if (row.bytes)
        row.bytes(bytes, model.layout());
    return bytes;
}

// A text whose terminator is not where its length says.
text_ref unterminated(snapshot_builder& m, std::u16string_view value)
{
    text_ref text = m.unique_text(value);
    --text.length;
    return text;
}

// A text that starts past the end of the pool.
text_ref outside_pool(snapshot_builder& m)
{
    return text_ref{static_cast<std::uint32_t>(m.layout().pool_bytes / 2 + 2), 0};
}

// A pool of NUL units only, so that a shifted or shortened pool still holds valid texts.
void zero_pool(snapshot_builder& m)
{
    m = snapshot_builder();
    m.unique_text(u"");
    m.unique_text(u"");
}

bytes_change word_at(std::size_t offset, std::uint32_t value)
{
    return [=](auto& b, auto&) { put_word(b, offset, value); };
}

TEST(menuwright_snapshot, one_broken_rule_makes_the_whole_snapshot_absent)
{
    const model_row rows[] = {
        {"magic", {}, word_at(0, 0x504243D7)},
        {"version 17", {}, word_at(4, 17)},
        {"state 1", [](auto& m) { m.state = 1; }},
        {"total size above file size", {}, [](auto& b, auto&) { put_word(b, 12, std::uint32_t(b.size() + 2)); }},
        {"total size above 4 MiB", {}, [](auto& b, auto&) { b.resize(0x400002); put_word(b, 12, 0x400002); }},
        {"scope table starts inside the header", {}, word_at(32, 64)},
        {"text-list table in the file but after the total size", zero_pool,
         [](auto& b, auto& l) { b.resize(b.size() + 8); put_word(b, 44, 1); put_word(b, 48, l.total_size); }},
        {"item table runs past the total size", {}, [](auto& b, auto&) { put_word(b, 36, get_word(b, 36) + 200); }},
        {"definition table offset past the end", {}, word_at(56, 0xFFFFFFF0)},
        {"pool offset odd", zero_pool, [](auto& b, auto& l) { put_word(b, 60, l.pool + 1); put_word(b, 64, 4); }},
        {"pool runs past the total size", {}, [](auto& b, auto& l) { put_word(b, 64, l.pool_bytes + 2); }},
        {"empty pool", {}, word_at(64, 0)},
        {"header text unterminated", [](auto& m) { m.header_text = unterminated(m, u"Model"); }},
        {"scope text", [](auto& m) { m.scope(0).set_text(11, unterminated(m, u"Files")); }},
        {"scope kind 10", [](auto& m) { m.scope(1).words[2] = 10; }},
        {"scope range count past the items", [](auto& m) { m.scope(0).set_range(13, 5, 5); }},
        {"scope range empty but first past the end", [](auto& m) { m.scope(1).set_range(13, 10, 0); }},
        {"scope second kind 4", [](auto& m) { m.scope(0).words[15] = 4; }},
        {"text-list text outside the pool", [](auto& m) { m.text_list(1).set_text(0, outside_pool(m)); }},
        {"item text unterminated", [](auto& m) { m.item(kind_10_item).set_text(0, unterminated(m, u"Sep")); }},
        {"item kind 11", [](auto& m) { m.item(kind_10_item).words[2] = 11; }},
        {"catalog item with upper-case name", [](auto& m) { m.item(copy_item).set_text(3, m.text(u"windows:Copy")); }},
        {"catalog item with ephemeral identifier",
         [](auto& m) { m.item(copy_item).set_text(3, m.text(u"ephemeral:session-1")); }},
        {"catalog identifier unterminated",
         [](auto& m) { m.item(copy_item).set_text(3, unterminated(m, u"windows:copyx")); }},
        {"item text 5", [](auto& m) { m.item(copy_item).set_text(5, outside_pool(m)); }},
        {"item word 7 is 3", [](auto& m) { m.item(copy_item).words[7] = 3; }},
        {"nested range past the items", [](auto& m) { m.item(copy_item).set_range(8, 8, 2); }},
        {"program text on a non-user item", [](auto& m) { m.item(copy_item).set_text(10, m.text(u"cmd.exe")); }},
        {"program text of a user item outside the pool", [](auto& m) { m.item(user_item).set_text(10, outside_pool(m)); }},
        {"text list on a non-user item", [](auto& m) { m.item(com_catalog_item).set_range(12, 0, 1); }},
        {"text list of a user item past the table", [](auto& m) { m.item(user_item).set_range(12, 1, 2); }},
        {"item text 14", [](auto& m) { m.item(user_item).set_text(14, unterminated(m, u"tip")); }},
        {"folder text on a non-user item", [](auto& m) { m.item(kind_10_item).set_text(18, m.text(u"C:\\")); }},
        {"folder text of a user item unterminated",
         [](auto& m) { m.item(user_item).set_text(18, unterminated(m, u"C:\\x")); }},
        {"browse text on a non-browse item", [](auto& m) { m.item(copy_item).set_text(23, m.text(u"C:\\")); }},
        {"browse text of quick browse unterminated",
         [](auto& m) { m.item(quick_browse_item).set_text(23, unterminated(m, u"D:\\x")); }},
        {"group name of 65 units", [](auto& m) { m.item(reports_group).set_text(26, m.text(std::u16string(65, u'r'))); }},
        {"group name with a tab", [](auto& m) { m.item(reports_group).set_text(26, m.text(u"Re\tports")); }},
        {"group name empty", [](auto& m) { m.item(inbox_group).set_text(26, text_ref{}); }},
        {"group name unterminated", [](auto& m) { m.item(inbox_group).set_text(26, unterminated(m, u"Inboxx")); }},
        {"group name on another catalog item", [](auto& m) { m.item(quick_browse_item).set_text(26, m.text(u"Pins")); }},
        {"group folder on a kind 1 item",
         [](auto& m) { m.item(kind_10_item).words[2] = 1; m.item(kind_10_item).set_text(28, m.text(u"C:\\Pins")); }},
        {"group folder unterminated", [](auto& m) { m.item(reports_group).set_text(28, unterminated(m, u"C:\\Pinsx")); }},
        {"definition text 13", [](auto& m) { m.definition(0).set_text(13, unterminated(m, u"abc")); }},
        {"definition word 2 is 2", [](auto& m) { m.definition(1).words[2] = 2; }},
        {"definition word 6 is 10 while word 5 is set", [](auto& m) { m.definition(0).words[6] = 10; }},
        {"definition word 15 is 3", [](auto& m) { m.definition(1).words[15] = 3; }},
        {"definition word 15 is 2 with an empty text", [](auto& m) { m.definition(0).set_text(16, text_ref{}); }},
        {"definition word 22 is 4", [](auto& m) { m.definition(0).words[22] = 4; }},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        const std::vector<std::byte> bytes = build(row);
        EXPECT_FALSE(is_valid_snapshot(bytes));
        EXPECT_TRUE(read_pin_group_texts(bytes).empty());
    }
}

// The limits of each rule, on the side that must still pass.
TEST(menuwright_snapshot, records_at_the_limits_of_the_rules_stay_valid)
{
    const model_row rows[] = {
        {"state 3", [](auto& m) { m.state = 3; }},
        {"unchecked header word", [](auto& m) { m.unchecked_header_word = 0xFFFFFFFF; }},
        {"bytes after the total size", {}, [](auto& b, auto&) { b.insert(b.end(), 1000, std::byte{0xCC}); }},
        {"empty table with any offset", [](auto& m) { m.item(user_item).set_range(12, 0, 0); },
         [](auto& b, auto&) { put_word(b, 44, 0); put_word(b, 48, 0xFFFFFFFF); }},
        {"empty ranges at the end and at 0xFFFFFFFF",
         [](auto& m) {
             m.scope(0).set_range(13, 9, 0);
             m.item(copy_item).set_range(8, 0xFFFFFFFF, 0);
             m.item(user_item).set_range(12, 2, 0);
         }},
        {"range up to the last item", [](auto& m) { m.scope(0).set_range(16, 8, 1); }},
        {"group name of 64 units", [](auto& m) { m.item(reports_group).set_text(26, m.text(std::u16string(64, u'r'))); }},
        {"group name of one space", [](auto& m) { m.item(reports_group).set_text(26, m.text(u" ")); }},
        {"group name beyond ASCII", [](auto& m) { m.item(inbox_group).set_text(26, m.text(u"~\x80\xFFFF")); }},
        {"texts with NUL units inside", [](auto& m) { m.item(copy_item).set_text(0, m.text(std::u16string(u"a\0b", 3))); }},
        {"word 6 unchecked while word 5 is 0", [](auto& m) { m.definition(1).words[5] = 0; m.definition(1).words[6] = 1000; }},
        {"program word 10 on a non-user item", [](auto& m) { m.item(copy_item).words[10] = 0xFFFFFFFF; }},
        {"unchecked definition words",
         [](auto& m) {
             for (std::size_t w : {18, 19, 23, 24, 25, 26, 27})
                 m.definition(1).words[w] = 0xFFFFFFFF;
         }},
        {"every catalog form but ephemeral on kind-0 items",
         [](auto& m) {
             for (auto id : {u"windows:copy", u"product:anything", u"user:{0123abcd-4567-89ef-0123-456789abcdef}",
                             u"com:{0123abcd-4567-89ef-0123-456789abcdef}:catalog:x"})
                 m.add_catalog_item(id);
         }},
        {"pool of NUL units, shortened to 4 bytes", zero_pool, word_at(64, 4)},
        {"no records at all", [](auto& m) { m = snapshot_builder(); m.header_text = m.text(u"empty"); }},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(is_valid_snapshot(build(row)));
    }
}

TEST(menuwright_snapshot, catalog_identifier_grammar)
{
    const std::u16string g = u"{0123abcd-4567-89ef-0123-456789abcdef}";
    const struct { std::u16string id; catalog_kind kind; } rows[] = {
        {u"windows:copy", catalog_kind::windows},
        {u"windows:a-b.c_d09", catalog_kind::windows},
        {u"windows:Copy", catalog_kind::invalid},
        {u"windows:", catalog_kind::invalid},
        {u"windows:co/py", catalog_kind::invalid},
        {u"Windows:copy", catalog_kind::invalid},
        {u"product:quick-pins", catalog_kind::product},
        {u"product:", catalog_kind::invalid},
        {u"com:" + g + u":canonical:" + g, catalog_kind::com_canonical},
        {u"com:" + g + u":canonical:" + g + u"x", catalog_kind::invalid},
        {u"com:" + g + u":canonical:name", catalog_kind::invalid},
        {u"com:" + g + u":catalog:open-with", catalog_kind::com_catalog},
        {u"com:" + g + u":catalog:", catalog_kind::invalid},
        {u"com:" + g + u":other:x", catalog_kind::invalid},
        {u"com:" + g, catalog_kind::invalid},
        {u"com:{0123ABCD-4567-89ef-0123-456789abcdef}:catalog:x", catalog_kind::invalid},
        {u"user:" + g, catalog_kind::user},
        {u"user:{0123abcd-4567-89ef-0123-456789abcdeF}", catalog_kind::invalid},
        {u"user:0123abcd-4567-89ef-0123-456789abcdef", catalog_kind::invalid},
        {u"user:{0123abcd_4567-89ef-0123-456789abcdef}", catalog_kind::invalid},
        {u"user:" + g + u"x", catalog_kind::invalid},
        {u"ephemeral:Anything at all \u00e9", catalog_kind::ephemeral},
        {u"ephemeral:", catalog_kind::invalid},
        {u"", catalog_kind::invalid},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(narrow(row.id));
        EXPECT_EQ(static_cast<int>(menuwright::catalog_id_kind(row.id)), static_cast<int>(row.kind));
    }
}

// Identifiers long enough to be remembered by offset must still be judged with their own length.
TEST(menuwright_snapshot, long_identifier_shared_by_many_items_is_judged_with_its_length)
{
    snapshot_builder model;
    const std::u16string name = u"windows:" + std::u16string(5000, u'a');
    const text_ref with_tail = model.unique_text(name + std::u16string(1, u'\0') + u"bbb");
    item_record item;
    item.set_text(3, text_ref{with_tail.offset, static_cast<std::uint32_t>(name.size())});
    for (int i = 0; i < 50; ++i)
        model.add_item(item);
    EXPECT_TRUE(is_valid_snapshot(model.build()));
    model.item(49).set_text(3, with_tail);
    EXPECT_FALSE(is_valid_snapshot(model.build()));
}

// Menuwright interns texts: a few kilobytes of snapshot must not expand into gigabytes of folder texts.
TEST(menuwright_snapshot, shared_folder_text_is_not_expanded_without_limit)
{
    const std::u16string folder = u"C:\\" + std::u16string(100'000, u'f');
    const auto model_with = [&](int records) {
        snapshot_builder model;
        for (int i = 0; i < records; ++i)
            model.add_quick_pins_group(u"G" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)), folder);
        return model.build();
    };
    // 41 records of 100,005 units stay under 4 Mi units; 42 do not.
    EXPECT_EQ(read_pin_group_texts(model_with(41)).size(), 41u);
    const std::vector<std::byte> too_much = model_with(42);
    EXPECT_TRUE(is_valid_snapshot(too_much));
    EXPECT_TRUE(read_pin_group_texts(too_much).empty());
}
} // namespace
