// "All Tags.json" and "All People.json": unlike the namespace file, a file that does not parse makes
// the load fail; the tags file writes its order back as a string; the people file never writes.

#include "configuration_files.h"

#include "settings/all_people_settings.h"
#include "settings/all_tags_settings.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

namespace
{
using all_people_settings::person_record;
using all_tags_settings::tag_record;
using configuration_test::people_file;
using configuration_test::tags_file;

using tags_file_test = configuration_test::configuration_files;
using people_file_test = configuration_test::configuration_files;

TEST_F(tags_file_test, order_is_read_from_a_string_as_a_decimal_prefix)
{
    struct row
    {
        const char* order_json;
        std::optional<std::int32_t> expected;
    };
    const std::vector<row> rows = {
        {R"("12")", 12},
        {R"(" -3a")", -3},
        {R"("")", 0},
        {R"("-")", 0},
        {R"("abc")", 0},
        {R"("+7")", 7},
        {R"("\t\n 42 ")", 42},
        {R"("--3")", 0},
        {R"("0x1F")", 0},
        {R"("007")", 7},
        {R"("1.9")", 1},
        {R"("1e3")", 1},
        {R"("2147483647")", INT_MAX},
        {R"("-2147483648")", INT_MIN},
        {R"("99999999999999999999")", INT_MAX},
        {R"("-99999999999999999999")", INT_MIN},
        {R"("\u0000 5")", 0},
        {"12", std::nullopt},
        {"1.5", std::nullopt},
        {"null", std::nullopt},
        {"true", std::nullopt},
        {R"(["1"])", std::nullopt},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.order_json);
        test_support::write_file(tags_file(), std::string(R"({"tags":[{"name":"t","order":)") + r.order_json + "}]}");
        all_tags_settings::settings_file settings(nullptr);
        ASSERT_TRUE(settings.load(false));
        ASSERT_EQ(settings.tags().size(), 1u);
        EXPECT_EQ(settings.tags()[0].order, r.expected);
        EXPECT_EQ(settings.tags()[0].name, L"t");
    }
}

TEST_F(tags_file_test, reads_members_and_treats_wrong_types_as_missing)
{
    struct row
    {
        const char* name;
        std::string json;
        std::wstring version;
        std::int32_t height, width;
        std::vector<tag_record> tags;
    };
    const std::vector<row> rows = {
        {"all members",
         R"({"version":"3","app":{"window":{"height":480,"width":-1}},"tags":[{"name":"Family","order":"2",
             "icon_not_tagged":"n.ico","icon_when_tagged":"w.ico","keyboard":"Ctrl+2"}]})",
         L"3", 480, -1,
         {{.name = L"Family", .order = 2, .icon_not_tagged = L"n.ico", .icon_when_tagged = L"w.ico",
           .keyboard = L"Ctrl+2"}}},
        {"members of other types",
         R"({"version":3,"app":{"window":{"height":"480","width":1.0}},"tags":[{"name":1,"icon_not_tagged":[],
             "icon_when_tagged":{},"keyboard":false}]})",
         L"", 0, 0, {{}}},
        {"window sizes beyond 32 bits or written with an exponent",
         R"({"app":{"window":{"height":3000000000,"width":4e2}}})", L"", 0, 0, {}},
        {"app and window that are not objects", R"({"app":{"window":[480,640]},"tags":[]})", L"", 0, 0, {}},
        {"app that is an array", R"({"app":[{"window":{"height":1}}]})", L"", 0, 0, {}},
        {"elements that are not objects take an index",
         R"({"tags":["Family",3,null,{"name":"Work"}]})", L"", 0, 0, {{}, {}, {}, {.name = L"Work"}}},
        {"tags that is not an array", R"({"tags":{"name":"x"}})", L"", 0, 0, {}},
        {"text outside ASCII", R"({"tags":[{"name":"Fête ★ \ud83c\udf89"}]})", L"", 0, 0,
         {{.name = L"F\u00eate \u2605 \U0001F389"}}},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        test_support::write_file(tags_file(), r.json);
        all_tags_settings::settings_file settings(nullptr);
        ASSERT_TRUE(settings.load(false));
        EXPECT_EQ(settings.version(), r.version);
        EXPECT_EQ(settings.window_height(), r.height);
        EXPECT_EQ(settings.window_width(), r.width);
        EXPECT_TRUE(settings.tags() == r.tags) << "tags read: " << settings.tags().size();
    }
}

// Files that do not parse, or whose root is not an object: the load fails and nothing changes.
const std::vector<std::pair<const char*, std::string>>& unreadable_files()
{
    static const std::vector<std::pair<const char*, std::string>> rows = {
        {"empty file", ""},
        {"root is an array", R"([{"tags":[{"name":"x"}],"people":[{"name":"x"}]}])"},
        {"root is a number", "42"},
        {"byte-order mark", "\xEF\xBB\xBF{\"tags\":[{\"name\":\"x\"}],\"people\":[{\"name\":\"x\"}]}"},
        {"invalid UTF-8", "{\"tags\":[{\"name\":\"\xFF\"}],\"people\":[{\"name\":\"\xFF\"}]}"},
        {"truncated", R"({"tags":[{"name":"x"})"},
        {"deep nesting", std::string(200000, '[') + std::string(200000, ']')},
    };
    return rows;
}

TEST_F(tags_file_test, a_file_that_is_not_an_object_fails_the_load_and_keeps_the_tags)
{
    test_support::write_file(tags_file(), R"({"version":"1","tags":[{"name":"kept"}]})");
    all_tags_settings::settings_file settings(nullptr);
    ASSERT_TRUE(settings.load(false));
    for (const auto& [name, bytes] : unreadable_files())
    {
        SCOPED_TRACE(name);
        test_support::write_file(tags_file(), bytes);
        EXPECT_FALSE(settings.load(true));
        ASSERT_EQ(settings.tags().size(), 1u);
        EXPECT_EQ(settings.tags()[0].name, L"kept");
        EXPECT_EQ(settings.version(), L"1");

        all_tags_settings::settings_file fresh(nullptr);
        EXPECT_FALSE(fresh.load(false));
        EXPECT_TRUE(fresh.tags().empty());
    }
}

TEST_F(tags_file_test, written_tags_read_back_the_same)
{
    all_tags_settings::settings_file writer(nullptr);
    writer.set_version(L"2.1");
    writer.set_window_size(INT_MIN, INT_MAX);
    writer.tags() = {
        {.name = L"Holiday \u2605", .order = 7, .icon_not_tagged = L"a.ico", .icon_when_tagged = L"b.ico",
         .keyboard = L"Ctrl+Shift+\"H\""},
        {.name = L"", .order = INT_MIN},
        {.name = L"Zero", .order = 0, .icon_not_tagged = L"", .keyboard = L""},
        {},
    };
    ASSERT_TRUE(writer.write());
    const std::string text = test_support::read_file(tags_file());
    EXPECT_NE(text.find(R"("order": "7")"), std::string::npos);
    EXPECT_NE(text.find(R"("order": "-2147483648")"), std::string::npos);

    all_tags_settings::settings_file reader(nullptr);
    ASSERT_TRUE(reader.load(false));
    EXPECT_EQ(reader.version(), L"2.1");
    EXPECT_EQ(reader.window_height(), INT_MIN);
    EXPECT_EQ(reader.window_width(), INT_MAX);
    EXPECT_TRUE(reader.tags() == writer.tags());
}

TEST_F(tags_file_test, a_file_without_app_is_written_back_with_a_zero_window_byte_for_byte)
{
    test_support::write_file(tags_file(), R"({"tags":[
        {"name":"Holiday été","order":"7","icon_not_tagged":"a.ico","icon_when_tagged":"b.ico","keyboard":"Ctrl+1",
         "colour":"ignored"},
        {"name":"","order":" -12x"},
        {"name":"No order","order":5,"keyboard":""}]})");
    all_tags_settings::settings_file settings(nullptr);
    ASSERT_TRUE(settings.load(false));
    ASSERT_TRUE(settings.write());
    EXPECT_EQ(test_support::read_file(tags_file()), configuration_test::expected_output(L"tags_written.json"));
}

TEST_F(people_file_test, reads_people_and_keeps_the_index_of_elements_that_are_not_objects)
{
    test_support::write_file(people_file(), R"({"version":"1.2","people":[
        {"name":"Åsa","main_photo":"C:\\Photos\\asa.jpg"},
        "Bob",
        {"name":"Carl","main_photo":7},
        {"main_photo":"d.jpg"},
        {"name":["Eve"],"main_photo":null},
        null]})");
    all_people_settings::settings_file settings(nullptr);
    ASSERT_TRUE(settings.load(false));
    EXPECT_EQ(settings.version(), L"1.2");
    const std::vector<person_record> expected = {
        {.name = L"\u00c5sa", .main_photo = L"C:\\Photos\\asa.jpg"},
        {},
        {.name = L"Carl"},
        {.main_photo = L"d.jpg"},
        {},
        {},
    };
    EXPECT_TRUE(settings.people() == expected) << "people read: " << settings.people().size();
}

TEST_F(people_file_test, a_file_that_is_not_an_object_fails_the_load_and_keeps_the_people)
{
    test_support::write_file(people_file(), R"({"people":[{"name":"kept"}]})");
    all_people_settings::settings_file settings(nullptr);
    ASSERT_TRUE(settings.load(false));
    for (const auto& [name, bytes] : unreadable_files())
    {
        SCOPED_TRACE(name);
        test_support::write_file(people_file(), bytes);
        EXPECT_FALSE(settings.load(true));
        ASSERT_EQ(settings.people().size(), 1u);
        EXPECT_EQ(settings.people()[0].name, L"kept");
    }
    // "people" that is not an array keeps the list, and the load succeeds.
    test_support::write_file(people_file(), R"({"people":"nobody"})");
    EXPECT_TRUE(settings.load(true));
    EXPECT_EQ(settings.people().size(), 1u);
}

TEST_F(people_file_test, write_refuses_and_leaves_the_file_alone)
{
    const std::string original = R"({"people":[{"name":"Ann"}]})";
    test_support::write_file(people_file(), original);
    all_people_settings::settings_file settings(nullptr);
    ASSERT_TRUE(settings.load(false));
    settings.people().push_back({.name = L"Added"});
    EXPECT_FALSE(settings.write());
    EXPECT_EQ(test_support::read_file(people_file()), original);
}
} // namespace
