// Item identifiers: the persistent 12064-byte layout every constructor must produce, truncation of each
// text field, change stamps, the filters that drop search results, and reading identifiers that we did
// not make (foreign ones, and ours with fields that lack their NUL).

#include "namespace/search_and_action_item_data.h"

#include "commands/action_type.h"

#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace
{
using all_people_settings::person_record;
using all_tags_settings::tag_record;
using namespace_settings::folder_record;
using namespace_settings::query_record;

const std::vector<tag_record> tags = {{.name = L"Family", .icon_not_tagged = L"family.ico"}, {.name = L"Work"}};
const std::vector<person_record> people = {{.name = L"Bo"}};

std::vector<std::uint8_t> bytes_of(const unique_child_id& id)
{
    const auto* begin = reinterpret_cast<const std::uint8_t*>(id.get());
    return {begin, begin + item_id_list_size};
}

const search_and_action_item_data& data(const unique_child_id& id)
{
    return *reinterpret_cast<const search_and_action_item_data*>(id.get());
}

// The little-endian integer at a byte offset: the layout is checked from the bytes, not the struct.
std::uint64_t read_le(const std::vector<std::uint8_t>& bytes, std::size_t offset, std::size_t size)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i)
        value |= static_cast<std::uint64_t>(bytes[offset + i]) << (8 * i);
    return value;
}

std::wstring read_utf16(const std::vector<std::uint8_t>& bytes, std::size_t offset, std::size_t units)
{
    std::wstring text;
    for (std::size_t i = 0; i < units; ++i)
    {
        const auto unit = static_cast<wchar_t>(read_le(bytes, offset + 2 * i, 2));
        if (unit == 0)
            break;
        text += unit;
    }
    return text;
}

FILETIME filetime(std::uint64_t ticks)
{
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

class item_data_test : public ::testing::Test
{
protected:
    test_support::scratch_folder scratch{L"item-data"};

    std::wstring make_file(const std::wstring& relative, std::size_t size = 3)
    {
        const auto file = scratch.path() / relative;
        test_support::write_file(file, std::string(size, 'x'));
        return file.wstring();
    }
};

TEST_F(item_data_test, every_constructor_gives_a_12064_byte_record_and_a_terminator)
{
    const auto file = make_file(L"a.txt");
    const folder_record folder{.name = L"Photos", .order = 3, .icon = L"photos.ico"};
    const query_record search{.name = L"$tags[0].name", .query = L"System.Keywords = '$tags[0].name'"};
    const query_record target{.name = L"Target", .target = file};

    struct row
    {
        const char* name;
        std::function<unique_child_id()> create;
        item_kind kind;
    };
    const std::vector<row> rows = {
        {"folder item", [&] { return create_folder_item(folder); }, item_kind::organized_folder},
        {"search item", [&] { return create_search_item(folder, search, tags, people); }, item_kind::organized_search},
        {"search item with a target", [&] { return create_search_item(folder, target, tags, people); },
         item_kind::quick_pin},
        {"result item", [&] { return create_result_item(file, {L"b", L"a"}, {}); }, item_kind::search_result},
        {"pin item from parts", [&] { return create_pin_item_from_parts(file, L"A", L"C:\\p\\a.lnk"); },
         item_kind::quick_pin},
        {"group item from parts", [&] { return create_group_item_from_parts(scratch.path().wstring(), L"G"); },
         item_kind::quick_pins_group},
        {"empty result item", [] { return create_empty_result_item(); }, item_kind::search_result},
        {"pin item", [&] { return create_pin_item({.display_name = L"A", .target_path = file, .link_path = L""}, 0); },
         item_kind::quick_pin},
        {"pin item of a group",
         [&] { return create_pin_item({.display_name = L"G", .target_path = file, .link_path = L"", .is_group = true}, 1); },
         item_kind::quick_pins_group},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        const auto id = r.create();
        ASSERT_TRUE(id);
        EXPECT_EQ(ILGetSize(id.get()), 12066u);
        const auto bytes = bytes_of(id);
        EXPECT_EQ(read_le(bytes, 0, 2), 12064u);
        EXPECT_EQ(bytes[2], static_cast<std::uint8_t>(r.kind));
        EXPECT_EQ(read_le(bytes, 12064, 2), 0u) << "ID list terminator";
        EXPECT_EQ(bytes[3], 0);
        EXPECT_EQ(bytes[6187], 0);
        EXPECT_EQ(read_le(bytes, 10484, 4), 0u);
        EXPECT_EQ(read_le(bytes, 12058, 6), 0u);
        EXPECT_NE(own_item_data(id.get()), nullptr);
    }
}

TEST_F(item_data_test, fields_sit_at_their_persistent_offsets)
{
    const auto file = make_file(L"b.txt");
    const folder_record folder{.name = L"Photos"};
    const query_record search{.name = L"Rated",
                              .order = 7,
                              .icon = L"$tags[0].icon",
                              .query = L"System.Rating >= 63",
                              .action_type = L"toggle_tags",
                              .action_parameters = L"$people[0].name"};
    auto bytes = bytes_of(create_search_item(folder, search, tags, people));
    EXPECT_EQ(read_le(bytes, 4, 2), 7u);
    EXPECT_EQ(read_utf16(bytes, 6, 521), L"::{249AE234-08DF-4686-AAF3-5D80A15493BE}\\Photos\\Rated");
    EXPECT_EQ(read_utf16(bytes, 1048, 521), L"family.ico");
    EXPECT_EQ(read_utf16(bytes, 2090, 2048), L"System.Rating >= 63");
    EXPECT_EQ(bytes[6186], static_cast<std::uint8_t>(action_type::toggle_tags));
    EXPECT_EQ(read_utf16(bytes, 6188, 100), L"Bo");
    EXPECT_EQ(read_le(bytes, 10488, 8), 0u) << "saved searches keep stamp 0";

    bytes = bytes_of(create_result_item(file, {L"zeta", L"alpha"}, {L"Bo", L"Ann"}));
    EXPECT_EQ(read_utf16(bytes, 6388, 1024), L"alpha;zeta");
    EXPECT_EQ(read_utf16(bytes, 8436, 1024), L"Ann;Bo");
    EXPECT_EQ(read_le(bytes, 4, 2), 999u);
    EXPECT_NE(read_le(bytes, 10488, 8), 0u);

    bytes = bytes_of(create_pin_item_from_parts(L"C:\\t\\x.doc", L"Pin name", L"C:\\g\\x.lnk"));
    EXPECT_EQ(read_utf16(bytes, 10496, 260), L"Pin name");
    EXPECT_EQ(read_utf16(bytes, 11016, 521), L"C:\\g\\x.lnk");
}

TEST_F(item_data_test, overlong_text_is_cut_to_each_field)
{
    const std::wstring long_text(5000, L'q');
    struct row
    {
        const char* field;
        std::function<unique_child_id()> create;
        std::size_t offset;
        std::size_t units;
        std::size_t prefix;  // characters the constructor puts before the value
    };
    const std::vector<row> rows = {
        {"path", [&] { return create_folder_item({.name = long_text}); }, 6, 521, 41},
        {"icon", [&] { return create_folder_item({.name = L"F", .icon = long_text}); }, 1048, 521, 0},
        {"query", [&] { return create_search_item({.name = L"F"}, {.name = L"S", .query = long_text}, {}, {}); },
         2090, 2048, 0},
        {"action_parameters",
         [&] { return create_search_item({.name = L"F"}, {.name = L"S", .action_parameters = long_text}, {}, {}); },
         6188, 100, 0},
        {"keywords", [&] { return create_result_item(make_file(L"k.txt"), {long_text}, {}); }, 6388, 1024, 0},
        {"people", [&] { return create_result_item(make_file(L"p.txt"), {}, {long_text}); }, 8436, 1024, 0},
        {"name", [&] { return create_pin_item_from_parts(L"C:\\t", long_text, L""); }, 10496, 260, 0},
        {"link_path", [&] { return create_pin_item_from_parts(L"C:\\t", L"n", long_text); }, 11016, 521, 0},
        {"pin path", [&] { return create_pin_item_from_parts(L"C:\\" + long_text, L"n", L""); }, 6, 521, 3},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.field);
        const auto id = r.create();
        ASSERT_TRUE(id);
        const auto bytes = bytes_of(id);
        const auto text = read_utf16(bytes, r.offset, r.units);
        EXPECT_EQ(text.size(), r.units - 1);
        EXPECT_EQ(text.substr(r.prefix), long_text.substr(0, r.units - 1 - r.prefix));
        EXPECT_EQ(read_le(bytes, r.offset + 2 * (r.units - 1), 2), 0u) << "the last unit holds the NUL";
    }
}

TEST(item_data, stamp_combines_last_write_time_and_size)
{
    struct row
    {
        const char* name;
        std::uint64_t last_write;
        std::uint64_t size;
        std::uint64_t expected;
    };
    const std::vector<row> rows = {
        {"plain", 0x01D9'0000'1234'5678, 100, 0x01D9'0000'1234'5678 ^ 200},
        {"size above 4 GiB", 0x01D9'0000'0000'0000, 0x1'0000'0001, 0x01D9'0000'0000'0000 ^ 0x2'0000'0002},
        {"time equal to twice the size gives 1, not 0", 2000, 1000, 1},
        {"both zero gives 1", 0, 0, 1},
        {"size's top bit shifted out", 0, 0x8000'0000'0000'0000, 1},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        WIN32_FILE_ATTRIBUTE_DATA attributes{};
        attributes.ftLastWriteTime = filetime(r.last_write);
        attributes.nFileSizeHigh = static_cast<DWORD>(r.size >> 32);
        attributes.nFileSizeLow = static_cast<DWORD>(r.size);
        EXPECT_EQ(file_stamp(attributes), r.expected);
    }
}

TEST_F(item_data_test, stamp_follows_the_file_and_is_0_only_when_it_cannot_be_read)
{
    const auto file = make_file(L"stamped.bin", 12345);
    constexpr std::uint64_t time = 132'223'104'000'000'000;  // 2020-01-01 00:00 UTC
    {
        unique_hfile handle(CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        0, nullptr));
        ASSERT_TRUE(handle);
        const FILETIME written = filetime(time);
        ASSERT_TRUE(SetFileTime(handle.get(), nullptr, nullptr, &written));
    }
    EXPECT_EQ(file_stamp(file.c_str()), time ^ (12345u << 1));
    EXPECT_EQ(file_stamp((scratch.path() / L"missing.bin").c_str()), 0u);

    auto id = create_pin_item_from_parts(file, L"n", L"");
    auto* item = own_item_data(id.get());
    EXPECT_EQ(item->stamp, time ^ (12345u << 1));
    test_support::write_file(file, std::string(10, 'y'));
    refresh_stamp(item);
    EXPECT_NE(item->stamp, time ^ (12345u << 1));
    EXPECT_NE(item->stamp, 0u);
    DeleteFileW(file.c_str());
    refresh_stamp(item);
    EXPECT_EQ(item->stamp, 0u);

    // A search item pointing at a missing target still becomes a pin, with stamp 0.
    const auto missing = create_search_item({.name = L"F"}, {.name = L"T", .target = file}, {}, {});
    EXPECT_EQ(data(missing).kind, static_cast<std::uint8_t>(item_kind::quick_pin));
    EXPECT_EQ(data(missing).stamp, 0u);
}

TEST_F(item_data_test, result_items_leave_out_recycled_vanished_and_unreachable_files)
{
    const auto kept = make_file(L"kept.txt");
    const auto recycled = make_file(L"$Recycle.Bin\\S-1-5-21\\$R1.txt");
    const auto old_recycler = make_file(L"$RECYCLER\\x.txt");
    std::wstring slashed = recycled;
    for (auto& c : slashed)
        if (c == L'\\')
            c = L'/';

    struct row
    {
        const char* name;
        std::wstring path;
        bool made;
    };
    const std::vector<row> rows = {
        {"existing file", kept, true},
        {"existing folder", scratch.path().wstring(), true},
        {"in $Recycle.Bin", recycled, false},
        {"in $Recycle.Bin written with slashes", slashed, false},
        {"in $RECYCLER", old_recycler, false},
        {"vanished", (scratch.path() / L"gone.txt").wstring(), false},
        {"a folder merely named like the bin", make_file(L"$recycle.binary\\y.txt"), true},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        const auto id = create_result_item(r.path, {}, {});
        EXPECT_EQ(static_cast<bool>(id), r.made);
        if (id)
        {
            EXPECT_EQ(item_path(own_item_data(id.get())), r.path) << "the path keeps the case the search gave";
        }
    }

    // A volume the guard reports unresponsive: the file exists but must not be touched.
    auto environment = volume_guard::system_environment();
    environment.probe = [](const std::wstring&) { return false; };
    environment.read_switch = [] { return DWORD{0}; };
    environment.debug_output = [](const wchar_t*) {};
    volume_guard dead_volumes(std::move(environment));
    EXPECT_FALSE(create_result_item(kept, {}, {}, dead_volumes));
}

TEST_F(item_data_test, pin_items_take_their_fields_and_their_position_from_the_store_entry)
{
    const auto target = make_file(L"target.docx");
    const auto group_folder = (scratch.path() / L"Work").wstring();
    CreateDirectoryW(group_folder.c_str(), nullptr);
    const quick_pin_entry pin{.display_name = L"1. Report",
                              .target_path = target,
                              .link_path = group_folder + L"\\1. Report.lnk"};
    const quick_pin_entry group{.display_name = L"Work",
                                .target_path = group_folder,
                                .link_path = group_folder,
                                .is_group = true,
                                .target_is_folder = true};

    const auto pin_id = create_pin_item(pin, 3);
    const auto& p = data(pin_id);
    EXPECT_EQ(p.kind, static_cast<std::uint8_t>(item_kind::quick_pin));
    EXPECT_EQ(item_path(&p), target);
    EXPECT_EQ(item_display_name(&p), L"1. Report");
    EXPECT_EQ(item_link_path(&p), group_folder + L"\\1. Report.lnk");
    EXPECT_EQ(item_container_folder(&p), group_folder);
    EXPECT_EQ(p.order, 3);
    EXPECT_EQ(p.stamp, file_stamp(target.c_str()));
    EXPECT_NE(p.stamp, 0u);

    const auto group_id = create_pin_item(group, 0);
    const auto& g = data(group_id);
    EXPECT_EQ(g.kind, static_cast<std::uint8_t>(item_kind::quick_pins_group));
    EXPECT_EQ(item_path(&g), group_folder);
    EXPECT_EQ(item_display_name(&g), L"Work");
    EXPECT_EQ(item_link_path(&g), L"") << "a group keeps no link path";
    EXPECT_EQ(item_container_folder(&g), scratch.path().wstring());
    EXPECT_EQ(g.order, 0);
    EXPECT_NE(g.stamp, 0u);
}

TEST_F(item_data_test, keyword_and_people_texts_do_not_depend_on_the_order_of_the_values)
{
    const auto file = make_file(L"k.txt");
    const auto first = create_result_item(file, {L"Work", L"Family", L"2024"}, {L"Bo", L"Ann"});
    const auto second = create_result_item(file, {L"2024", L"Work", L"Family"}, {L"Ann", L"Bo"});
    EXPECT_STREQ(data(first).keywords, L"2024;Family;Work");
    EXPECT_STREQ(data(second).keywords, data(first).keywords);
    EXPECT_STREQ(data(second).people, L"Ann;Bo");
    EXPECT_STREQ(data(create_result_item(file, {}, {})).keywords, L"");
}

TEST_F(item_data_test, search_items_resolve_references_and_fall_back_when_a_target_is_unresolved)
{
    const auto file = make_file(L"target.txt");
    const folder_record folder{.name = L"$tags[0].name"};
    struct row
    {
        const char* name;
        query_record query;
        item_kind kind;
        std::wstring path;
        std::wstring name_field;
        std::uint16_t order;
        std::uint8_t action;
    };
    const std::vector<row> rows = {
        {"saved search, folder name kept as written",
         {.name = L"$people[0].name", .query = L"q", .action_type = L"set_rating"},
         item_kind::organized_search,
         L"::{249AE234-08DF-4686-AAF3-5D80A15493BE}\\$tags[0].name\\Bo",
         L"",
         999,
         static_cast<std::uint8_t>(action_type::set_rating)},
        {"target resolves to a path",
         {.name = L"$tags[1].name", .order = 4, .target = file},
         item_kind::quick_pin,
         file,
         L"Work",
         4,
         0},
        {"target with a reference past the lists",
         {.name = L"T", .order = 5, .action_type = L"auto_tag", .target = L"$tags[9].name"},
         item_kind::organized_search,
         L"::{249AE234-08DF-4686-AAF3-5D80A15493BE}\\$tags[0].name\\T",
         L"",
         5,
         static_cast<std::uint8_t>(action_type::auto_tag)},
        {"empty target",
         {.name = L"T", .target = L""},
         item_kind::organized_search,
         L"::{249AE234-08DF-4686-AAF3-5D80A15493BE}\\$tags[0].name\\T",
         L"",
         999,
         0},
        {"unknown action text", {.name = L"U", .action_type = L"Set_Rating"}, item_kind::organized_search,
         L"::{249AE234-08DF-4686-AAF3-5D80A15493BE}\\$tags[0].name\\U", L"", 999,
         static_cast<std::uint8_t>(action_type::unknown)},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        const auto id = create_search_item(folder, r.query, tags, people);
        const auto& item = data(id);
        EXPECT_EQ(item.kind, static_cast<std::uint8_t>(r.kind));
        EXPECT_EQ(item_path(&item), r.path);
        EXPECT_EQ(std::wstring(item.name), r.name_field);
        EXPECT_EQ(item.order, r.order);
        EXPECT_EQ(item.action_type, r.action);
        EXPECT_EQ(std::wstring(item.link_path), L"");
    }
}

TEST(item_data, display_name_is_the_last_component_after_the_root)
{
    struct row
    {
        const wchar_t* path;
        const wchar_t* name;
        const wchar_t* expected;
    };
    const std::vector<row> rows = {
        {L"C:\\Photos\\IMG_1.jpg", L"", L"IMG_1.jpg"},
        {L"C:/Photos/IMG_1.jpg", L"", L"IMG_1.jpg"},
        {L"C:\\Photos\\", L"", L""},
        {L"C:\\", L"", L""},
        {L"C:", L"", L""},
        {L"\\\\server\\share", L"", L""},
        {L"\\\\server\\share\\", L"", L""},
        {L"\\\\server\\share\\doc.txt", L"", L"doc.txt"},
        {L"\\\\?\\C:\\", L"", L""},
        {L"\\\\?\\C:\\long\\x.txt", L"", L"x.txt"},
        {L"\\\\?\\UNC\\server\\share", L"", L""},
        {L"\\\\?\\UNC\\server\\share\\y", L"", L"y"},
        {L"relative.txt", L"", L"relative.txt"},
        {L"C:\\Photos\\IMG_1.jpg", L"Holiday", L"Holiday"},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(r.path)) + " " + testing::PrintToString(std::wstring(r.name)));
        EXPECT_EQ(item_display_name(own_item_data(create_pin_item_from_parts(r.path, r.name, L"").get())), r.expected);
    }
    // Only pins and groups have a name; for the other kinds it is the last component of the path.
    EXPECT_EQ(item_display_name(own_item_data(create_folder_item({.name = L"Photos"}).get())), L"Photos");
    EXPECT_EQ(item_display_name(own_item_data(create_group_item_from_parts(L"C:\\Pins\\Work", L"").get())), L"Work");
    auto result = create_empty_result_item();
    std::memcpy(own_item_data(result.get())->name, L"ignored", 16);
    std::memcpy(own_item_data(result.get())->path, L"C:\\a\\b.txt", 22);
    EXPECT_EQ(item_display_name(own_item_data(result.get())), L"b.txt");
}

TEST(item_data, container_folder_is_the_parent_of_the_link_or_the_group_folder)
{
    struct row
    {
        const wchar_t* source;
        const wchar_t* expected;
    };
    const std::vector<row> rows = {
        {L"C:\\Pins\\Work\\report.lnk", L"C:\\Pins\\Work"},
        {L"C:\\Pins\\Work\\\\report.lnk", L"C:\\Pins\\Work"},
        {L"C:/Pins/report.lnk", L"C:/Pins"},
        {L"C:\\report.lnk", L"C:\\"},
        {L"\\\\server\\share\\report.lnk", L"\\\\server\\share\\"},
        {L"C:\\Pins\\Work\\", L"C:\\Pins\\Work"},
        {L"report.lnk", L""},
        {L"", L""},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(r.source)));
        EXPECT_EQ(item_container_folder(own_item_data(create_pin_item_from_parts(L"C:\\t", L"n", r.source).get())),
                  r.expected);
        EXPECT_EQ(item_container_folder(own_item_data(create_group_item_from_parts(r.source, L"n").get())), r.expected);
    }
    // A pin without a link path has no container, whatever its target.
    EXPECT_EQ(item_container_folder(own_item_data(create_pin_item_from_parts(L"C:\\a\\b", L"n", L"").get())), L"");
}

TEST(item_data, foreign_identifiers_are_not_read)
{
    EXPECT_EQ(own_item_data(static_cast<PCUITEMID_CHILD>(nullptr)), nullptr);
    struct row
    {
        const char* name;
        std::uint16_t cb;
        bool ours;
    };
    const std::vector<row> rows = {
        {"ours", 12064, true},
        {"one byte short", 12063, false},
        {"one byte long", 12065, false},
        {"a file system item", 0x5A, false},
        {"byte-swapped size", 0x202F, false},
    };
    std::vector<std::uint8_t> buffer(item_id_list_size + 2, 0);
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        std::memcpy(buffer.data(), &r.cb, 2);
        const auto* child = reinterpret_cast<PCUITEMID_CHILD>(buffer.data());
        EXPECT_EQ(own_item_data(child) != nullptr, r.ours);
    }
    // Ours but misaligned inside a combined list: recognised all the same.
    std::vector<std::uint8_t> shifted(item_id_list_size + 2, 0);
    const std::uint16_t size = 12064;
    std::memcpy(shifted.data() + 1, &size, 2);
    EXPECT_NE(own_item_data(reinterpret_cast<PCUITEMID_CHILD>(shifted.data() + 1)), nullptr);
}

TEST(item_data, accessors_stop_at_the_end_of_a_field_without_its_nul)
{
    auto id = create_empty_result_item();
    auto* item = own_item_data(id.get());
    std::fill(std::begin(item->path), std::end(item->path), L'p');
    std::fill(std::begin(item->icon), std::end(item->icon), L'i');
    std::fill(std::begin(item->link_path), std::end(item->link_path), L'l');
    item->kind = static_cast<std::uint8_t>(item_kind::quick_pin);
    std::fill(std::begin(item->name), std::end(item->name), L'n');
    EXPECT_EQ(item_path(item), std::wstring(521, L'p'));
    EXPECT_EQ(item_icon(item), std::wstring(521, L'i'));
    EXPECT_EQ(item_link_path(item), std::wstring(521, L'l'));
    EXPECT_EQ(item_display_name(item), std::wstring(260, L'n'));
    refresh_stamp(item);
    EXPECT_EQ(item->stamp, 0u);
}
} // namespace
