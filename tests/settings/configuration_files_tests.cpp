// "Namespace.json", "All Tags.json" and "All People.json": members of wrong types counting as missing,
// what each file (and the suite settings) keeps when a file gives nothing, and `write` byte for byte, read
// back. Every reader's strict JSON grammar, and the namespace reader's escapes, duplicate and unknown
// members, are the settings fuzzers' (their corpus replays the cases every run).

#include "settings_fixture.h"

#include "base/log.h"
#include "settings/all_people_settings.h"
#include "settings/all_tags_settings.h"
#include "settings/high_level_settings.h"
#include "settings/namespace_settings.h"

#include <algorithm>
#include <climits>
#include <optional>
#include <string>
#include <vector>

namespace
{
using all_people_settings::person_record;
using all_tags_settings::tag_record;
using namespace_settings::folder_record;
using namespace_settings::query_record;
using settings_test::configuration_file;

const auto namespace_file = configuration_file(L"Namespace");
const auto tags_file = configuration_file(L"All Tags");
const auto people_file = configuration_file(L"All People");

// Expected outputs live in tests/settings/data and are copied beside the test executable.
std::string expected_output(const wchar_t* name)
{
    return test_support::read_file(test_support::executable_folder() / L"settings-test-data" / name);
}

using configuration_files = settings_test::settings_fixture;

TEST_F(configuration_files, namespace_members_of_other_types_count_as_missing)
{
    const std::pair<std::string, std::vector<folder_record>> rows[] = {
        {R"({"folders":[{"name":1,"order":"2","hint":false,"icon":[],"enabled":"false","default_view":{},
             "queries":{"name":"x"}}, {"queries":[{"name":null,"order":true,"hint":7,"icon":{},"query":["q"],
             "action_type":1,"action_parameters":[],"enabled":0,"target":false}]}]})",
         {{}, {.queries = {{}}}}},
        {R"({"folders":[{"order":2147483647},{"order":-2147483648},{"order":-0},{"order":2.0},{"order":1e2},
             {"order":2147483648},{"order":-2147483649},{"order":"2"},{"order":18446744073709551616},{"order":0.5}]})",
         {{.order = INT_MAX}, {.order = INT_MIN}, {.order = 0}, {}, {}, {}, {}, {}, {}, {}}},
    };
    for (const auto& [json, expected] : rows)
    {
        SCOPED_TRACE(json.substr(0, 100));
        test_support::write_file(namespace_file, json);
        namespace_settings::settings_file settings(nullptr);
        ASSERT_TRUE(settings.load(false));
        EXPECT_TRUE(settings.folders() == expected) << "folders read: " << settings.folders().size();
    }

    // A name of 8 MiB, far beyond any buffer the reader fills at a time, arrives whole.
    test_support::write_file(namespace_file, R"({"folders":[{"name":")" + std::string(8 << 20, 'x') + "\"}]}");
    namespace_settings::settings_file huge(nullptr);
    ASSERT_TRUE(huge.load(false));
    ASSERT_EQ(huge.folders().size(), 1u);
    EXPECT_EQ(huge.folders()[0].name.size(), 8u << 20);
}

// The namespace and suite settings files load whatever they hold, keeping the records read before when it
// gives none; the tags and people files fail their load on a document that is not an object and keep
// their lists.
TEST_F(configuration_files, a_file_that_gives_no_records_keeps_the_records_read_before)
{
    const auto suite_file = own_file(L"High Level Settings");
    write(namespace_file, R"({"version":"1","folders":[{"name":"kept"}]})");
    write(tags_file, R"({"version":"1","tags":[{"name":"kept"}]})");
    write(people_file, R"({"version":"1","people":[{"name":"kept"}]})");
    write(suite_file, R"({"version":"1","apps":[{"app_id":"kept"}]})");
    namespace_settings::settings_file folders(nullptr);
    all_tags_settings::settings_file tags(nullptr);
    all_people_settings::settings_file people(nullptr);
    high_level_settings::settings_file suite(nullptr, sub_folder(), L"High Level Settings");
    ASSERT_TRUE(folders.load(false) && tags.load(false) && people.load(false) && suite.load(false));
    const std::string lists =
        R"("folders":[{"name":"x"}],"tags":[{"name":"x"}],"people":[{"name":"x"}],"apps":[{"app_id":"x"}])";
    const std::tuple<const char*, std::string, bool> rows[] = {
        {"does not parse", "{" + lists + ",}", false},
        {"root is an array", "[{" + lists + "}]", false},
        {"lists that are not arrays",
         R"({"version":"2","folders":{"name":"x"},"tags":{"name":"x"},"people":"x","apps":{"app_id":"x"}})", true},
        {"no lists", R"({"version":"3"})", true},
    };
    for (const auto& [name, bytes, is_object] : rows)
    {
        SCOPED_TRACE(name);
        for (const auto& file : {namespace_file, tags_file, people_file, suite_file})
            write(file, bytes);
        EXPECT_TRUE(folders.load(false));
        EXPECT_EQ(tags.load(false), is_object);
        EXPECT_EQ(people.load(false), is_object);
        EXPECT_TRUE(suite.load(false));
        EXPECT_TRUE(folders.folders() == std::vector<folder_record>{{.name = L"kept"}});
        EXPECT_TRUE(tags.tags() == std::vector<tag_record>{{.name = L"kept"}});
        EXPECT_TRUE(people.people() == std::vector<person_record>{{.name = L"kept"}});
        ASSERT_EQ(suite.apps().size(), 1u);
        EXPECT_EQ(suite.apps().begin()->first, "kept");
        all_tags_settings::settings_file fresh_tags(nullptr);
        all_people_settings::settings_file fresh_people(nullptr);
        EXPECT_EQ(fresh_tags.load(false), is_object);
        EXPECT_EQ(fresh_people.load(false), is_object);
    }
    // A readable "version" is taken even when the lists are not.
    EXPECT_EQ(folders.version(), L"3");
    EXPECT_EQ(tags.version(), L"3");
    EXPECT_EQ(people.version(), L"3");
    EXPECT_EQ(suite.version(), "3");
}

// Every member, texts that need escaping (control characters, a NUL, quotes, beyond the basic plane),
// the extremes of an order, optional texts present but empty and records with nothing set.
TEST_F(configuration_files, namespace_write_replaces_the_file_with_the_documented_layout_and_reads_back)
{
    namespace_settings::settings_file settings(nullptr);
    settings.set_version(L"1.0");
    settings.folders() = {
        {.name = L"Ratings", .order = 1, .icon = L"Content\\Icons\\Ratings.ico", .enabled = true,
         .queries = {{.name = L"\u2605\u2605\u2605", .order = 3, .hint = L"Three \"stars\"", .icon = L"",
                      .query = L"System.Rating >= 38 AND System.Rating <= 62", .action_type = L"set_rating",
                      .action_parameters = L"3", .enabled = false},
                     {.name = L"\U0001F4F7 Photos \u00e9t\u00e9", .order = INT_MAX, .hint = L"", .action_type = L"",
                      .action_parameters = L"", .target = L"C:\\Users\\\u00c5sa"},
                     {}}},
        {.name = L"", .order = INT_MIN, .hint = L"Empty\tname", .icon = L"", .default_view = L"extra_large_icons",
         .queries = {{.name = L"Pinned", .icon = L"", .query = L"", .target = L"$quick_pins[0]"}}},
        {.name = std::wstring(L"\x01\x1f\b\f\n\r\t\0end", 11), .icon = L"\x7f/", .default_view = L""},
    };
    // A longer file is replaced entirely, not overwritten from the start.
    test_support::write_file(namespace_file, std::string(100'000, ' ') + "{}");
    ASSERT_TRUE(settings.write());
    EXPECT_EQ(test_support::read_file(namespace_file), expected_output(L"namespace_written.json"));
    namespace_settings::settings_file reader(nullptr);
    ASSERT_TRUE(reader.load(false));
    EXPECT_EQ(reader.version(), L"1.0");
    EXPECT_TRUE(reader.folders() == settings.folders()) << "read back, the records are the same";

    // A folder where the file should be: nothing is written, the failure is logged, and write still
    // answers true.
    std::filesystem::remove(namespace_file);
    std::filesystem::create_directories(namespace_file);
    test_support::log_capture log;
    EXPECT_TRUE(settings.write());
    EXPECT_TRUE(std::filesystem::is_directory(namespace_file));
    const auto messages = log.messages();
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(), [&](const std::string& message) {
                  return message.starts_with("ERROR Unable to open " + to_utf8(settings.full_path()) + " for writing");
              }),
              1)
        << ::testing::PrintToString(messages);
}

TEST_F(configuration_files, tag_order_is_read_from_a_string_as_a_decimal_prefix)
{
    const std::pair<const char*, std::optional<std::int32_t>> rows[] = {
        {R"("12")", 12}, {R"(" -3a")", -3}, {R"("")", 0}, {R"("-")", 0}, {R"("+7")", 7}, {R"("\t\n 42 ")", 42},
        {R"("--3")", 0}, {R"("0x1F")", 0}, {R"("1.9")", 1}, {R"("-2147483648")", INT_MIN},
        {R"("99999999999999999999")", INT_MAX}, {R"("-99999999999999999999")", INT_MIN},
        {"12", std::nullopt}, {"1.5", std::nullopt}, {"null", std::nullopt}, {R"(["1"])", std::nullopt},
    };
    for (const auto& [order, expected] : rows)
    {
        SCOPED_TRACE(order);
        test_support::write_file(tags_file, std::string(R"({"tags":[{"name":"t","order":)") + order + "}]}");
        all_tags_settings::settings_file settings(nullptr);
        ASSERT_TRUE(settings.load(false));
        EXPECT_TRUE(settings.tags() == (std::vector<tag_record>{{.name = L"t", .order = expected}}));
    }
}

TEST_F(configuration_files, tags_and_people_members_of_other_types_count_as_missing)
{
    const struct { std::string json; std::wstring version; std::int32_t height, width;
                   std::vector<tag_record> tags; } rows[] = {
        {R"({"version":3,"app":{"window":{"height":"480","width":1.0}},"tags":[{"name":1,"icon_not_tagged":[],
             "icon_when_tagged":{},"keyboard":false}, "Family", 3, null, {"name":"F\u00eate \ud83c\udf89"}]})",
         L"", 0, 0, {{}, {}, {}, {}, {.name = L"F\u00eate \U0001F389"}}},
        {R"({"app":{"window":{"height":3000000000,"width":4e2}}})", L"", 0, 0, {}},
        {R"({"app":{"window":[480,640]}})", L"", 0, 0, {}},
        {R"({"app":[{"window":{"height":1}}]})", L"", 0, 0, {}},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.json.substr(0, 100));
        test_support::write_file(tags_file, r.json);
        all_tags_settings::settings_file settings(nullptr);
        ASSERT_TRUE(settings.load(false));
        EXPECT_EQ(settings.version(), r.version);
        EXPECT_EQ(settings.window_height(), r.height);
        EXPECT_EQ(settings.window_width(), r.width);
        EXPECT_TRUE(settings.tags() == r.tags) << "tags read: " << settings.tags().size();
    }

    // A person that is not an object still takes its index.
    const std::string people_json = R"({"version":"1.2","people":[{"name":"Åsa","main_photo":"C:\\asa.jpg"}, "Bob",
        {"name":"Carl","main_photo":7}, {"main_photo":"d.jpg"}, {"name":["Eve"],"main_photo":null}, null]})";
    test_support::write_file(people_file, people_json);
    all_people_settings::settings_file people(nullptr);
    ASSERT_TRUE(people.load(false));
    EXPECT_EQ(people.version(), L"1.2");
    EXPECT_TRUE(people.people() == (std::vector<person_record>{{.name = L"\u00c5sa", .main_photo = L"C:\\asa.jpg"},
                                                                {}, {.name = L"Carl"}, {.main_photo = L"d.jpg"}, {}, {}}));
    // The people file is the Settings app's alone.
    people.people().push_back({.name = L"Added"});
    EXPECT_FALSE(people.write());
    EXPECT_EQ(test_support::read_file(people_file), people_json);
}

TEST_F(configuration_files, tags_written_read_back_the_same_and_byte_for_byte)
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
    all_tags_settings::settings_file reader(nullptr);
    ASSERT_TRUE(reader.load(false));
    EXPECT_EQ(reader.version(), L"2.1");
    EXPECT_EQ(reader.window_height(), INT_MIN);
    EXPECT_EQ(reader.window_width(), INT_MAX);
    EXPECT_TRUE(reader.tags() == writer.tags());

    // A file without "app" is written back with a zero window; unknown members and number orders go.
    write(tags_file, R"({"tags":[
        {"name":"Holiday été","order":"7","icon_not_tagged":"a.ico","icon_when_tagged":"b.ico","keyboard":"Ctrl+1",
         "colour":"ignored"},
        {"name":"","order":" -12x"},
        {"name":"No order","order":5,"keyboard":""}]})");
    all_tags_settings::settings_file settings(nullptr);
    ASSERT_TRUE(settings.load(false));
    ASSERT_TRUE(settings.write());
    EXPECT_EQ(test_support::read_file(tags_file), expected_output(L"tags_written.json"));
}
} // namespace
