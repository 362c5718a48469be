// "Namespace.json": reading hostile files member by member, and writing the records back byte for byte.

#include "configuration_files.h"

#include "diagnostics/log.h"
#include "settings/namespace_settings.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

namespace
{
using configuration_test::namespace_file;
using namespace_settings::folder_record;
using namespace_settings::query_record;

class namespace_file_test : public configuration_test::configuration_files
{
protected:
    // Loads a fresh object from the given file contents.
    static std::unique_ptr<namespace_settings::settings_file> load_text(const std::string& text)
    {
        test_support::write_file(namespace_file(), text);
        auto settings = std::make_unique<namespace_settings::settings_file>(nullptr);
        EXPECT_TRUE(settings->load(false));
        return settings;
    }
};

std::string nested_arrays(size_t depth)
{
    return std::string(depth, '[') + std::string(depth, ']');
}

TEST_F(namespace_file_test, reads_every_member_and_treats_wrong_types_as_missing)
{
    struct row
    {
        const char* name;
        std::string json;
        std::vector<folder_record> expected;
    };
    const std::vector<row> rows = {
        {"all members",
         R"({"version":"2","folders":[{"name":"F","order":3,"hint":"h","icon":"i.ico","enabled":false,
             "default_view":"extra_large_icons","queries":[{"name":"Q","order":-4,"hint":"qh","icon":"q.ico",
             "query":"System.Rating > 1","action_type":"set_rating","action_parameters":"5","enabled":true,
             "target":"C:\\t"}]}]})",
         {{.name = L"F", .order = 3, .hint = L"h", .icon = L"i.ico", .enabled = false,
           .default_view = L"extra_large_icons",
           .queries = {{.name = L"Q", .order = -4, .hint = L"qh", .icon = L"q.ico", .query = L"System.Rating > 1",
                        .action_type = L"set_rating", .action_parameters = L"5", .enabled = true,
                        .target = L"C:\\t"}}}}},
        {"folder members of other types",
         R"({"folders":[{"name":1,"order":"2","hint":false,"icon":[],"enabled":"false","default_view":{},
             "queries":{"name":"x"}}]})",
         {{}}},
        {"query members of other types",
         R"({"folders":[{"name":"F","queries":[{"name":null,"order":true,"hint":7,"icon":{},"query":["q"],
             "action_type":1,"action_parameters":[],"enabled":0,"target":false}]}]})",
         {{.name = L"F", .queries = {{}}}}},
        {"elements that are not objects keep their places",
         R"({"folders":["text",12,null,[],true,{"name":"F","queries":[1,"q",{"name":"Q"},null]}]})",
         {{}, {}, {}, {}, {}, {.name = L"F", .queries = {{}, {}, {.name = L"Q"}, {}}}}},
        {"a query without query text", R"({"folders":[{"queries":[{"name":"Q"}]}]})",
         {{.queries = {{.name = L"Q"}}}}},
        {"order limits", R"({"folders":[{"order":2147483647},{"order":-2147483648},{"order":-0}]})",
         {{.order = INT_MAX}, {.order = INT_MIN}, {.order = 0}}},
        {"order that is not a 32-bit integer literal",
         R"({"folders":[{"order":2.0},{"order":1e2},{"order":2147483648},{"order":-2147483649},
             {"order":"2"},{"order":18446744073709551616},{"order":0.5}]})",
         {{}, {}, {}, {}, {}, {}, {}}},
        {"escapes and text outside ASCII",
         R"({"folders":[{"name":"a\"b\\c\/d\n\t\u00e9\u2605\ud83d\ude00 \u0000z","icon":"Zürich ★"}]})",
         {{.name = std::wstring(L"a\"b\\c/d\n\t\u00e9\u2605\U0001F600 \0z", 16), .icon = L"Z\u00fcrich \u2605"}}},
        {"members that are not read are ignored",
         R"({"unknown":[1,2],"folders":[{"name":"F","colour":"red","queries":[{"name":"Q","extra":{}}]}]})",
         {{.name = L"F", .queries = {{.name = L"Q"}}}}},
        {"deep nesting inside a member", R"({"folders":[{"name":"F","hint":)" + nested_arrays(100000) + "}]}",
         {{.name = L"F"}}},
        {"of duplicate members the first counts",
         R"({"folders":[{"name":"first","name":"second"}]})", {{.name = L"first"}}},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        const auto settings = load_text(r.json);
        EXPECT_TRUE(settings->folders() == r.expected) << "folders read: " << settings->folders().size();
    }
}

TEST_F(namespace_file_test, a_file_that_is_not_an_object_loads_with_no_folders)
{
    struct row
    {
        const char* name;
        std::string bytes;
    };
    const std::vector<row> rows = {
        {"empty file", ""},
        {"root is an array", R"([{"name":"F"}])"},
        {"root is a string", R"("folders")"},
        {"byte-order mark", "\xEF\xBB\xBF" R"({"folders":[{"name":"F"}]})"},
        {"invalid UTF-8 inside a string", "{\"folders\":[{\"name\":\"F\xC3\x28\"}]}"},
        {"overlong UTF-8 encoding", "{\"folders\":[{\"name\":\"\xC0\xAF\"}]}"},
        {"truncated", R"({"folders":[{"name":"F")"},
        {"trailing comma", R"({"folders":[{"name":"F"},]})"},
        {"comment", R"({"folders":[]} // note)"},
        {"two roots", R"({"folders":[]} {})"},
        {"single quotes", R"({'folders':[]})"},
        {"lone surrogate escape", R"({"folders":[{"name":"\ud800"}]})"},
        {"deep nesting at the root", nested_arrays(200000)},
        {"deep nesting that never closes", std::string(100000, '[')},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        const auto settings = load_text(r.bytes);
        EXPECT_TRUE(settings->folders().empty());
        EXPECT_TRUE(settings->version().empty());
    }
}

TEST_F(namespace_file_test, a_file_without_a_folders_array_keeps_the_folders_read_before)
{
    test_support::write_file(namespace_file(), R"({"version":"1","folders":[{"name":"kept"}]})");
    namespace_settings::settings_file settings(nullptr);
    ASSERT_TRUE(settings.load(false));
    ASSERT_EQ(settings.folders().size(), 1u);

    for (const char* text : {R"({"version":"2","folders":{"name":"x"}})", R"({"version":"3"})", "[1]", "{"})
    {
        SCOPED_TRACE(text);
        test_support::write_file(namespace_file(), text);
        ASSERT_TRUE(settings.load(true));
        ASSERT_EQ(settings.folders().size(), 1u);
        EXPECT_EQ(settings.folders()[0].name, L"kept");
    }
    // A readable "version" is taken even when "folders" is not.
    EXPECT_EQ(settings.version(), L"3");
}

TEST_F(namespace_file_test, a_huge_string_is_read_whole)
{
    const std::string huge(8 * 1024 * 1024, 'x');
    const auto settings = load_text(R"({"folders":[{"name":")" + huge + "\"}]}");
    ASSERT_EQ(settings->folders().size(), 1u);
    EXPECT_EQ(settings->folders()[0].name.size(), huge.size());
}

folder_record full_folder()
{
    return {.name = L"Every \u2605 member",
            .order = INT_MIN,
            .hint = L"tab\there, quote \" and backslash \\",
            .icon = L"Content\\Icons\\Tags.ico",
            .enabled = false,
            .default_view = L"extra_large_icons",
            .queries = {{.name = L"$tags[0].name",
                         .order = INT_MAX,
                         .hint = L"",
                         .icon = L"$tags[0].icon",
                         .query = L"System.Keywords = '$tags[0].name'",
                         .action_type = L"toggle_tags",
                         .action_parameters = L"$tags[0].name",
                         .enabled = true,
                         .target = L"C:\\Users\\\u00c5sa\\Pictures"},
                        {}}};
}

TEST_F(namespace_file_test, written_records_read_back_the_same)
{
    struct row
    {
        const char* name;
        std::wstring version;
        std::vector<folder_record> folders;
    };
    const std::vector<row> rows = {
        {"no folders", L"", {}},
        {"a folder with every field absent or empty", L"1.0", {{}}},
        {"an empty name and no queries next to full records", L"1.0", {full_folder(), {.name = L""}, full_folder()}},
        {"present but empty optional texts stay present", L"x",
         {{.hint = L"", .default_view = L"", .queries = {{.action_type = L"", .action_parameters = L"", .target = L""}}}}},
        {"control characters and a NUL", L"v",
         {{.name = std::wstring(L"\x01\x1f\b\f\n\r\t\0end", 11), .icon = L"\x7f/"}}},
        {"text beyond the basic plane", L"\U0001F600", {{.name = L"\U0001F4F7 Photos \u00e9t\u00e9"}}},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        {
            namespace_settings::settings_file writer(nullptr);
            writer.set_version(r.version);
            writer.folders() = r.folders;
            ASSERT_TRUE(writer.write());
        }
        namespace_settings::settings_file reader(nullptr);
        ASSERT_TRUE(reader.load(false));
        EXPECT_EQ(reader.version(), r.version);
        EXPECT_TRUE(reader.folders() == r.folders);
        // Written again, the text is the same.
        EXPECT_EQ(reader.to_json(), test_support::read_file(namespace_file()));
    }
}

TEST_F(namespace_file_test, writes_the_documented_layout_byte_for_byte)
{
    namespace_settings::settings_file settings(nullptr);
    settings.set_version(L"1.0");
    settings.folders() = {
        {.name = L"Ratings",
         .order = 1,
         .icon = L"Content\\Icons\\Ratings.ico",
         .enabled = true,
         .queries = {{.name = L"\u2605\u2605\u2605",
                      .order = 3,
                      .hint = L"Three \"stars\"",
                      .icon = L"",
                      .query = L"System.Rating >= 38 AND System.Rating <= 62",
                      .action_type = L"set_rating",
                      .action_parameters = L"3",
                      .enabled = false}}},
        {.name = L"",
         .hint = L"Empty\tname",
         .icon = L"",
         .default_view = L"extra_large_icons",
         .queries = {{.name = L"Pinned", .icon = L"", .query = L"", .target = L"$quick_pins[0]"}}},
        {.name = L"No queries", .icon = L"x.ico"},
    };
    ASSERT_TRUE(settings.write());
    const std::string written = test_support::read_file(namespace_file());
    EXPECT_EQ(written, configuration_test::expected_output(L"namespace_written.json"));
}

TEST_F(namespace_file_test, writing_replaces_a_longer_file_entirely)
{
    test_support::write_file(namespace_file(), std::string(100000, ' ') + "{}");
    namespace_settings::settings_file settings(nullptr);
    settings.set_version(L"1");
    ASSERT_TRUE(settings.write());
    EXPECT_EQ(test_support::read_file(namespace_file()), "{\n    \"version\": \"1\",\n    \"folders\": []\n}");
}

TEST_F(namespace_file_test, a_file_that_cannot_be_opened_is_not_written_yet_write_answers_true)
{
    // A folder where the file should be: CreateFileW refuses it.
    std::filesystem::create_directories(namespace_file());
    test_support::log_capture log;
    namespace_settings::settings_file settings(nullptr);
    settings.folders().push_back({.name = L"F"});
    EXPECT_TRUE(settings.write());
    EXPECT_TRUE(std::filesystem::is_directory(namespace_file()));
    bool logged = false;
    for (const auto& message : log.messages())
        logged = logged || message.rfind("ERROR Unable to open " + to_utf8(settings.full_path()) + " for writing", 0) == 0;
    EXPECT_TRUE(logged);
}
} // namespace
