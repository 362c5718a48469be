// Item identifiers: what the constructors write into each field (the persistent offsets are pinned where
// the record is declared), truncation of each text field, change stamps, the filters that drop search
// results, and the names and folders read from paths, and which records are ours. Ours whose fields lack
// their NUL: hostile_identifiers and the item identifier fuzzer.

#include "items/search_and_action_item_data.h"

#include "items/action_type.h"

#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace
{
using namespace_settings::folder_record;
using namespace_settings::query_record;

const std::vector<all_tags_settings::tag_record> tags = {{.name = L"Family", .icon_not_tagged = L"family.ico"},
                                                         {.name = L"Work"}};
const std::vector<all_people_settings::person_record> people = {{.name = L"Bo"}};
const std::wstring main_root = L"::{249AE234-08DF-4686-AAF3-5D80A15493BE}\\";

// The text field of `units` characters at that byte offset of the record, up to its NUL.
std::wstring field_text(const unique_child_id& id, std::size_t offset, std::size_t units)
{
    const auto* text = reinterpret_cast<const wchar_t*>(reinterpret_cast<const std::uint8_t*>(id.get()) + offset);
    return std::wstring(text, wcsnlen(text, units));
}

const search_and_action_item_data& data(const unique_child_id& id)
{
    return *own_item_data(id.get());
}

class item_data_test : public ::testing::Test
{
protected:
    test_support::scratch_folder scratch{L"item-data"};

    std::wstring make_file(const std::wstring& relative, std::size_t size = 3)
    {
        test_support::write_file(scratch.path() / relative, std::string(size, 'x'));
        return (scratch.path() / relative).wstring();
    }
};

// A saved search's icon and parameters with their references resolved; a result's keywords and people
// sorted, so the same values in another order give the same text.
TEST_F(item_data_test, constructors_resolve_references_and_sort_lists)
{
    const query_record search{.name = L"Rated", .icon = L"$tags[0].icon", .query = L"System.Rating >= 63",
                              .action_type = L"toggle_tags", .action_parameters = L"$people[0].name"};
    const auto saved = create_search_item({.name = L"Photos"}, search, tags, people);
    EXPECT_EQ(std::wstring(data(saved).icon), L"family.ico");
    EXPECT_EQ(std::wstring(data(saved).query), L"System.Rating >= 63");
    EXPECT_EQ(data(saved).action_type, static_cast<std::uint8_t>(action_type::toggle_tags));
    EXPECT_EQ(std::wstring(data(saved).action_parameters), L"Bo");
    EXPECT_EQ(data(saved).stamp, 0u) << "saved searches keep stamp 0";
    int reserved = data(saved).reserved_1 | data(saved).reserved_2;
    for (const auto byte : data(saved).reserved_3)
        reserved |= byte;
    for (const auto byte : data(saved).reserved_4)
        reserved |= byte;
    EXPECT_EQ(reserved, 0) << "identifiers are persisted as they are: no stray bytes in the reserved fields";

    const auto file = make_file(L"b.txt");
    for (const auto& [keywords, names] : {std::pair{std::vector<std::wstring>{L"zeta", L"alpha", L"2024"},
                                                    std::vector<std::wstring>{L"Bo", L"Ann"}},
                                          std::pair{std::vector<std::wstring>{L"2024", L"zeta", L"alpha"},
                                                    std::vector<std::wstring>{L"Ann", L"Bo"}}})
    {
        const auto result = create_result_item(file, keywords, names);
        EXPECT_EQ(std::wstring(data(result).keywords), L"2024;alpha;zeta");
        EXPECT_EQ(std::wstring(data(result).people), L"Ann;Bo");
        EXPECT_EQ(data(result).order, 999u);
    }
}

TEST_F(item_data_test, overlong_text_is_cut_to_each_field)
{
    const std::wstring long_text(5000, L'q');
    struct row
    {
        const char* field;
        std::function<unique_child_id()> create;
        std::size_t offset, units;
        std::size_t prefix; // characters the constructor puts before the value
    };
    const row rows[] = {
        {"path", [&] { return create_folder_item({.name = long_text}); }, 6, 521, 41},
        {"icon", [&] { return create_folder_item({.icon = long_text}); }, 1048, 521, 0},
        {"query", [&] { return create_search_item({}, {.query = long_text}, {}, {}); }, 2090, 2048, 0},
        {"action_parameters", [&] { return create_search_item({}, {.action_parameters = long_text}, {}, {}); }, 6188,
         100, 0},
        {"keywords", [&] { return create_result_item(make_file(L"k.txt"), {long_text}, {}); }, 6388, 1024, 0},
        {"people", [&] { return create_result_item(make_file(L"p.txt"), {}, {long_text}); }, 8436, 1024, 0},
        {"name", [&] { return create_pin_item_from_parts(L"C:\\t", long_text, L""); }, 10496, 260, 0},
        {"link_path", [&] { return create_pin_item_from_parts(L"C:\\t", L"n", long_text); }, 11016, 521, 0},
        {"pin path", [&] { return create_pin_item_from_parts(L"C:\\" + long_text, L"n", L""); }, 6, 521, 3},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.field);
        const auto text = field_text(r.create(), r.offset, r.units);
        EXPECT_EQ(text.size(), r.units - 1);
        EXPECT_EQ(text.substr(r.prefix), long_text.substr(0, r.units - 1 - r.prefix));
    }
}

TEST_F(item_data_test, stamp_is_last_write_xor_twice_the_size_and_0_only_when_unreadable)
{
    const std::tuple<std::uint64_t, std::uint64_t, std::uint64_t> rows[] = {
        {0x01D9'0000'1234'5678, 100, 0x01D9'0000'1234'5678 ^ 200},
        {0x01D9'0000'0000'0000, 0x1'0000'0001, 0x01D9'0000'0000'0000 ^ 0x2'0000'0002}, // size above 4 GiB
        {2000, 1000, 1},                 // time equal to twice the size gives 1, not 0
        {0, 0, 1},                       // both zero
        {0, 0x8000'0000'0000'0000, 1},   // the size's top bit is shifted out
    };
    for (const auto& [last_write, size, expected] : rows)
    {
        SCOPED_TRACE(std::to_string(last_write) + " " + std::to_string(size));
        WIN32_FILE_ATTRIBUTE_DATA attributes{};
        attributes.ftLastWriteTime = {static_cast<DWORD>(last_write), static_cast<DWORD>(last_write >> 32)};
        attributes.nFileSizeHigh = static_cast<DWORD>(size >> 32);
        attributes.nFileSizeLow = static_cast<DWORD>(size);
        EXPECT_EQ(file_stamp(attributes), expected);
    }

    const auto file = make_file(L"stamped.bin", 12345);
    constexpr std::uint64_t time = 132'223'104'000'000'000; // 2020-01-01 00:00 UTC
    const FILETIME written = {static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    ASSERT_TRUE(SetFileTime(
        unique_hfile(CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr)).get(),
        nullptr, nullptr, &written));
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
    // A search item whose target is missing still becomes a pin, with stamp 0.
    EXPECT_EQ(data(create_search_item({}, {.target = file}, {}, {})).stamp, 0u);
}

TEST_F(item_data_test, result_items_leave_out_recycled_and_unreachable_files)
{
    const auto kept = make_file(L"kept.txt");
    const auto recycled = make_file(L"$Recycle.Bin\\S-1-5-21\\$R1.txt");
    std::wstring slashed = recycled;
    std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
    const std::tuple<const char*, std::wstring, bool> rows[] = {
        {"existing file", kept, true},
        {"existing folder", scratch.path().wstring(), true},
        {"in $Recycle.Bin", recycled, false},
        {"in $Recycle.Bin written with slashes", slashed, false},
        {"in $RECYCLER", make_file(L"$RECYCLER\\x.txt"), false},
        {"a folder merely named like the bin", make_file(L"$recycle.binary\\y.txt"), true},
    };
    for (const auto& [name, path, made] : rows)
    {
        SCOPED_TRACE(name);
        const auto id = create_result_item(path, {}, {});
        ASSERT_EQ(static_cast<bool>(id), made);
        if (id)
        {
            EXPECT_EQ(item_path(own_item_data(id.get())), path) << "the path keeps the case the search gave";
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

TEST_F(item_data_test, pin_and_search_items_take_their_fields_from_the_store_and_the_configuration)
{
    const auto target = make_file(L"target.docx");
    const auto group_folder = (scratch.path() / L"Work").wstring();
    CreateDirectoryW(group_folder.c_str(), nullptr);
    const auto pin = create_pin_item(
        {.display_name = L"1. Report", .target_path = target, .link_path = group_folder + L"\\1. Report.lnk"}, 3);
    EXPECT_EQ(data(pin).kind, static_cast<std::uint8_t>(item_kind::quick_pin));
    EXPECT_EQ(item_path(&data(pin)), target);
    EXPECT_EQ(item_display_name(&data(pin)), L"1. Report");
    EXPECT_EQ(item_container_folder(&data(pin)), group_folder);
    EXPECT_EQ(data(pin).order, 3);
    EXPECT_EQ(data(pin).stamp, file_stamp(target.c_str()));
    const auto group = create_pin_item({.display_name = L"Work", .target_path = group_folder,
                                        .link_path = group_folder, .is_group = true, .target_is_folder = true}, 0);
    EXPECT_EQ(data(group).kind, static_cast<std::uint8_t>(item_kind::quick_pins_group));
    EXPECT_EQ(item_link_path(&data(group)), L"") << "a group keeps no link path";
    EXPECT_EQ(item_container_folder(&data(group)), scratch.path().wstring());
    EXPECT_EQ(data(group).order, 0);
    EXPECT_NE(data(group).stamp, 0u);

    // Searches: references resolved except in the folder's name; a target that still holds "$" after
    // resolving falls back to a saved search.
    const std::wstring prefix = main_root + L"$tags[0].name\\";
    const auto set_rating = static_cast<std::uint8_t>(action_type::set_rating);
    const std::tuple<const char*, query_record, item_kind, std::wstring, std::wstring, std::uint16_t, std::uint8_t> rows[] = {
        {"saved search", {.name = L"$people[0].name", .action_type = L"set_rating"}, item_kind::organized_search,
         prefix + L"Bo", L"", 999, set_rating},
        {"target resolves to a path", {.name = L"$tags[1].name", .order = 4, .target = target}, item_kind::quick_pin,
         target, L"Work", 4, 0},
        {"target with a reference past the lists", {.name = L"T", .order = 5, .action_type = L"auto_tag",
                                                     .target = L"$tags[9].name"},
         item_kind::organized_search, prefix + L"T", L"", 5, static_cast<std::uint8_t>(action_type::auto_tag)},
        {"empty target", {.name = L"T", .target = L""}, item_kind::organized_search, prefix + L"T", L"", 999, 0},
        {"unknown action text", {.name = L"U", .action_type = L"Set_Rating"}, item_kind::organized_search,
         prefix + L"U", L"", 999, static_cast<std::uint8_t>(action_type::unknown)},
    };
    for (const auto& [name, query, kind, path, name_field, order, action] : rows)
    {
        SCOPED_TRACE(name);
        const auto id = create_search_item({.name = L"$tags[0].name"}, query, tags, people);
        EXPECT_EQ(data(id).kind, static_cast<std::uint8_t>(kind));
        EXPECT_EQ(item_path(&data(id)), path);
        EXPECT_EQ(std::wstring(data(id).name), name_field);
        EXPECT_EQ(data(id).order, order);
        EXPECT_EQ(data(id).action_type, action);
        EXPECT_EQ(std::wstring(data(id).link_path), L"");
    }
}

TEST(item_data, display_name_and_container_folder_come_from_the_path_after_its_root)
{
    const std::pair<const wchar_t*, const wchar_t*> names[] = {
        {L"C:\\Photos\\IMG_1.jpg", L"IMG_1.jpg"}, {L"C:/Photos/IMG_1.jpg", L"IMG_1.jpg"}, {L"C:\\Photos\\", L""},
        {L"C:\\", L""}, {L"C:", L""}, {L"\\\\server\\share", L""}, {L"\\\\server\\share\\", L""},
        {L"\\\\server\\share\\doc.txt", L"doc.txt"}, {L"\\\\?\\C:\\", L""}, {L"\\\\?\\C:\\long\\x.txt", L"x.txt"},
        {L"\\\\?\\UNC\\server\\share", L""}, {L"\\\\?\\UNC\\server\\share\\y", L"y"}, {L"relative.txt", L"relative.txt"},
        // Roots without a share or a separator, as persisted identifiers or other programs may hand them over.
        {L"\\\\?\\UNC\\server", L""}, {L"\\\\?\\UNC\\", L""}, {L"\\\\?\\UNC\\server\\", L""}, {L"\\\\?\\C:", L""},
        {L"\\\\", L""}, {L"\\\\server", L""},
    };
    for (const auto& [path, expected] : names)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(path)));
        EXPECT_EQ(item_display_name(&data(create_pin_item_from_parts(path, L"", L""))), expected);
        EXPECT_EQ(item_display_name(&data(create_group_item_from_parts(path, L""))), expected);
        auto result = create_empty_result_item();
        std::memcpy(own_item_data(result.get())->path, path, (std::wcslen(path) + 1) * sizeof(wchar_t));
        EXPECT_EQ(item_display_name(&data(result)), expected);
    }
    // A pin's or group's own name wins; other kinds have none.
    EXPECT_EQ(item_display_name(&data(create_pin_item_from_parts(L"C:\\a.jpg", L"Holiday", L""))), L"Holiday");
    EXPECT_EQ(item_display_name(&data(create_group_item_from_parts(L"C:\\Pins\\Work", L""))), L"Work");
    auto result = create_empty_result_item();
    std::memcpy(own_item_data(result.get())->name, L"ignored", 16);
    std::memcpy(own_item_data(result.get())->path, L"C:\\a\\b.txt", 22);
    EXPECT_EQ(item_display_name(&data(result)), L"b.txt");
    // Organised folders and searches hold a namespace path: only a backslash ends a name there.
    const folder_record reports{.name = L"Q1/Q2 reports"};
    EXPECT_EQ(item_display_name(&data(create_folder_item(reports))), L"Q1/Q2 reports");
    EXPECT_EQ(item_display_name(&data(create_search_item(reports, {.name = L"Report: Q1/Q2"}, tags, people))),
              L"Report: Q1/Q2");
    EXPECT_EQ(item_display_name(&data(create_search_item(reports, {.name = L"$tags[1].name"}, tags, people))),
              L"Work");

    const std::pair<const wchar_t*, const wchar_t*> containers[] = {
        {L"C:\\Pins\\Work\\report.lnk", L"C:\\Pins\\Work"}, {L"C:\\Pins\\Work\\\\report.lnk", L"C:\\Pins\\Work"},
        {L"C:/Pins/report.lnk", L"C:/Pins"}, {L"C:\\report.lnk", L"C:\\"},
        {L"\\\\server\\share\\report.lnk", L"\\\\server\\share\\"}, {L"C:\\Pins\\Work\\", L"C:\\Pins\\Work"},
        {L"report.lnk", L""}, {L"", L""},
        // A root is its own container.
        {L"\\\\?\\UNC\\server", L"\\\\?\\UNC\\server"}, {L"\\\\?\\UNC\\", L"\\\\?\\UNC\\"},
        {L"\\\\?\\UNC\\server\\", L"\\\\?\\UNC\\server\\"}, {L"\\\\?\\UNC\\server\\share", L"\\\\?\\UNC\\server\\share"},
        {L"\\\\?\\C:", L"\\\\?\\C:"}, {L"\\\\", L"\\\\"}, {L"\\\\server", L"\\\\server"},
    };
    for (const auto& [source, expected] : containers)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(source)));
        EXPECT_EQ(item_container_folder(&data(create_pin_item_from_parts(L"C:\\t", L"n", source))), expected);
        EXPECT_EQ(item_container_folder(&data(create_group_item_from_parts(source, L"n"))), expected);
    }
}

TEST(item_data, only_a_size_field_of_12064_is_ours_even_at_an_odd_address)
{
    EXPECT_EQ(own_item_data(static_cast<PCUITEMID_CHILD>(nullptr)), nullptr);
    // Offset by one byte: ours may sit misaligned inside a combined list.
    std::vector<std::uint8_t> buffer(12066 + 1, 0);
    for (const auto& [cb, ours] : {std::pair<std::uint16_t, bool>{12064, true}, {12063, false}, {12065, false},
                                   {0x5A, false}, {0x202F, false}})
    {
        SCOPED_TRACE(cb);
        std::memcpy(buffer.data() + 1, &cb, 2);
        EXPECT_EQ(own_item_data(reinterpret_cast<PCUITEMID_CHILD>(buffer.data() + 1)) != nullptr, ours);
    }
}
} // namespace
