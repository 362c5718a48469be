// The settings base class (locating, seeding, re-reading only on change), the strict JSON reader and
// the suite settings file, fed hostile files. Each case works in a private sub-folder of the per-user
// suite folder and removes it afterwards.

#include "common/setting_utilities/common_settings_file.h"
#include "common/setting_utilities/json_document.h"
#include "diagnostics/known_folders.h"
#include "diagnostics/log.h"
#include "settings/high_level_settings.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <random>
#include <system_error>
#include <thread>
#include <vector>

namespace
{
using common::setting_utilities::common_settings_file;

// A settings file that counts its reads and keeps whether the last document parsed.
class counting_file final : public common_settings_file
{
public:
    using common_settings_file::common_settings_file;
    ~counting_file() = default;

    bool read() override
    {
        ++reads;
        rapidjson::Document document;
        read_document(document);
        last_parsed = !document.IsNull();
        return answer;
    }
    bool write() override { return false; }

    int reads = 0;
    bool last_parsed = false;
    bool answer = true;
};

class settings_folder_test : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::error_code ec;
        std::filesystem::remove_all(folder(), ec);
    }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(folder(), ec);
    }

    static std::wstring sub_folder() { return L"settings-tests-" + std::to_wstring(GetCurrentProcessId()); }
    static std::filesystem::path folder() { return suite_data_folder() / sub_folder(); }
    static std::filesystem::path file(const std::wstring& stem) { return folder() / (stem + L".json"); }

    // Writes the file and gives it a last-write time later than any before.
    void write(const std::wstring& stem, const std::string& bytes)
    {
        test_support::write_file(file(stem), bytes);
        test_support::touch_file(file(stem), ++generation_);
    }

    static FILETIME last_write_time(const std::filesystem::path& path)
    {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        EXPECT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
        return data.ftLastWriteTime;
    }

    static void set_last_write_time(const std::filesystem::path& path, FILETIME time)
    {
        HANDLE handle = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        SetFileTime(handle, nullptr, nullptr, &time);
        CloseHandle(handle);
    }

    int generation_ = 0;
};

// The application records in one line, for comparing whole maps.
std::string describe(const high_level_settings::settings_file& settings)
{
    std::string text;
    for (const auto& [id, app] : settings.apps())
    {
        text += "[" + id + "|" + app.app_id + "|" + app.name + "|" + app.version + "|" + app.status;
        for (const auto& [key, value] : app.settings)
        {
            text += "|" + key + "=";
            if (const bool* b = std::get_if<bool>(&value))
                text += *b ? "true" : "false";
            else if (const auto* i = std::get_if<std::int32_t>(&value))
                text += "i" + std::to_string(*i);
            else if (const auto* s = std::get_if<std::string>(&value))
                text += "'" + *s + "'";
            else
            {
                text += "(";
                for (const auto& element : std::get<std::vector<std::string>>(value))
                    text += "'" + element + "'";
                text += ")";
            }
        }
        text += "]";
    }
    return text;
}

// `open` depth times, then `middle`, then `close` depth times.
std::string nested(const std::string& open, const std::string& close, int depth, const std::string& middle = "")
{
    std::string text;
    text.reserve((open.size() + close.size()) * static_cast<size_t>(depth) + middle.size());
    for (int i = 0; i < depth; ++i)
        text += open;
    text += middle;
    for (int i = 0; i < depth; ++i)
        text += close;
    return text;
}

TEST_F(settings_folder_test, constructor_places_the_file_and_creates_missing_folders)
{
    const std::wstring deep = sub_folder() + L"\\a\\b";
    counting_file settings(nullptr, deep, L"Stem");
    EXPECT_TRUE(std::filesystem::is_directory(folder() / L"a" / L"b"));
    EXPECT_EQ(settings.file_name(), L"Stem.json");
    EXPECT_EQ(settings.folder(), (suite_data_folder() / deep).wstring() + L"\\");
    EXPECT_EQ(settings.full_path(), settings.folder() + L"Stem.json");
}

TEST_F(settings_folder_test, constructor_raises_when_the_folder_cannot_be_made)
{
    test_support::write_file(folder() / L"blocker", "a file where a folder should be");
    EXPECT_THROW(counting_file(nullptr, sub_folder() + L"\\blocker\\inner", L"Stem"),
                 std::filesystem::filesystem_error);
}

TEST_F(settings_folder_test, load_reads_only_when_the_last_write_time_changes)
{
    write(L"Counted", "{}");
    counting_file settings(nullptr, sub_folder(), L"Counted");
    EXPECT_TRUE(settings.load(false));
    EXPECT_TRUE(settings.load(false));
    EXPECT_EQ(settings.reads, 1) << "an unchanged file was parsed again";

    // New contents behind the old last-write time are not seen...
    const FILETIME before = last_write_time(file(L"Counted"));
    test_support::write_file(file(L"Counted"), "{\"changed\": true}");
    set_last_write_time(file(L"Counted"), before);
    EXPECT_TRUE(settings.load(false));
    EXPECT_EQ(settings.reads, 1);

    // ...but a new last-write time is, even with the same contents.
    test_support::touch_file(file(L"Counted"), ++generation_);
    EXPECT_TRUE(settings.load(false));
    EXPECT_EQ(settings.reads, 2);
    EXPECT_TRUE(settings.load(true));
    EXPECT_EQ(settings.reads, 3) << "force reads an unchanged file";
}

TEST_F(settings_folder_test, a_failed_read_keeps_the_stored_time)
{
    write(L"Failing", "{}");
    counting_file settings(nullptr, sub_folder(), L"Failing");
    settings.answer = false;
    EXPECT_FALSE(settings.load(false));
    EXPECT_FALSE(settings.load(false));
    EXPECT_EQ(settings.reads, 2) << "a failed read must be retried";
    settings.answer = true;
    EXPECT_TRUE(settings.load(false));
    EXPECT_TRUE(settings.load(false));
    EXPECT_EQ(settings.reads, 3);
}

TEST_F(settings_folder_test, a_file_that_does_not_parse_counts_as_read)
{
    write(L"Broken", "{\"apps\": [}");
    counting_file settings(nullptr, sub_folder(), L"Broken");
    EXPECT_TRUE(settings.load(false));
    EXPECT_FALSE(settings.last_parsed);
    EXPECT_TRUE(settings.load(false));
    EXPECT_EQ(settings.reads, 1);
}

TEST_F(settings_folder_test, missing_file_is_seeded_from_the_default_copy)
{
    const auto source = common::setting_utilities::defaults_folder(GetModuleHandleW(nullptr)) / L"High Level Settings.json";
    EXPECT_EQ(source, test_support::executable_folder() / L"Content" / L"Configurations" / L"High Level Settings.json");
    high_level_settings::settings_file settings(GetModuleHandleW(nullptr), sub_folder(), L"High Level Settings");
    test_support::log_capture log;

    EXPECT_TRUE(settings.load(false));
    EXPECT_EQ(log.messages(), std::vector<std::string>{"INFO Copied default settings from " +
                                                       to_utf8(source.wstring()) + " to " +
                                                       to_utf8(settings.full_path())});
    EXPECT_EQ(test_support::read_file(settings.full_path()), test_support::read_file(source));
    EXPECT_EQ(settings.version(), "1.0");
    EXPECT_TRUE(settings.is_app_enabled());
    EXPECT_TRUE(settings.get_bool_setting("sortwell", "general.showInExplorerPanel"));

    // A seeded file that the user then edits is not overwritten by a later load.
    write(L"High Level Settings", R"({"version": "2"})");
    EXPECT_TRUE(settings.load(false));
    EXPECT_EQ(settings.version(), "2");
    EXPECT_EQ(log.messages().size(), 1u);
}

TEST_F(settings_folder_test, missing_file_without_a_default_fails_every_load)
{
    high_level_settings::settings_file settings(GetModuleHandleW(nullptr), sub_folder(), L"No Default Copy");
    test_support::log_capture log;

    EXPECT_FALSE(settings.load(false));
    EXPECT_FALSE(settings.is_app_enabled());
    EXPECT_FALSE(std::filesystem::exists(settings.full_path()));

    const auto messages = log.messages();
    ASSERT_EQ(messages.size(), 3u) << ::testing::PrintToString(messages);
    const std::string copy_failed = "CRITICAL Unable to copy settings file. Details ";
    EXPECT_EQ(messages[0].rfind(copy_failed, 0), 0u) << messages[0];
    EXPECT_GT(messages[0].size(), copy_failed.size()) << "the exception's text is missing";
    EXPECT_EQ(messages[1], messages[0]) << "the second load tries the copy again";
    EXPECT_EQ(messages[2], "ERROR Failed to load from high level settings file " + to_utf8(settings.full_path()));
}

TEST_F(settings_folder_test, suite_settings_never_write)
{
    write(L"High Level Settings", R"({"version": "kept"})");
    high_level_settings::settings_file settings(nullptr, sub_folder(), L"High Level Settings");
    ASSERT_TRUE(settings.load(false));
    EXPECT_FALSE(settings.write());
    EXPECT_EQ(test_support::read_file(file(L"High Level Settings")), R"({"version": "kept"})");
}

TEST_F(settings_folder_test, suite_settings_records_from_members_of_every_type)
{
    struct row
    {
        const char* name;
        std::string document;
        const char* expected;
    };
    const row rows[] = {
        {"every kind of setting value",
         R"({"version": "3.1", "apps": [{"app_id": "sortwell", "name": "Sortwell", "version": "1.2", "status": "on",
             "settings": {"flag": false, "count": -7, "label": "x", "list": ["a", 1, null, "b", {}, []],
                          "none": null, "fraction": 1.5, "big": 2147483648, "smallest": -2147483648,
                          "general": {"showInExplorerPanel": false, "n": 2147483647, "s": "t", "l": ["u"],
                                      "inner": {"showInExplorerPanel": true}, "z": null, "f": 0.5,
                                      "huge": -2147483649}}}]})",
         "[sortwell|sortwell|Sortwell|1.2|on|count=i-7|flag=false|general.l=('u')|general.n=i2147483647"
         "|general.s='t'|general.showInExplorerPanel=false|label='x'|list=('a''b')|smallest=i-2147483648]"},
        {"text members of the wrong type are left empty",
         R"({"apps": [{"app_id": "sortwell", "name": 1, "version": true, "status": ["disabled"], "settings": []}]})",
         "[sortwell|sortwell|||]"},
        {"elements without a usable app id are dropped",
         R"({"apps": [1, "sortwell", null, [], {"name": "no id"}, {"app_id": 5}, {"app_id": ""},
                      {"app_id": null}, {"app_id": "menuwright"}]})",
         "[menuwright|menuwright|||]"},
        {"the first record of an id wins",
         R"({"apps": [{"app_id": "sortwell", "name": "first"}, {"app_id": "sortwell", "name": "second"}]})",
         "[sortwell|sortwell|first||]"},
        {"ids sort byte-wise",
         R"({"apps": [{"app_id": "b"}, {"app_id": "B"}, {"app_id": "a"}]})", "[B|B|||][a|a|||][b|b|||]"},
        {"an empty apps array empties the map", R"({"apps": []})", ""},
        {"a deeply nested setting value keeps the switch beside it",
         R"({"apps": [{"app_id": "sortwell", "settings": {"general": {"deep": )" + nested("[", "]", 100'000) +
             R"(, "deeper": )" + nested("{\"a\":", "}", 100'000, "1") + R"(, "showInExplorerPanel": false}}}]})",
         "[sortwell|sortwell||||general.deep=()|general.showInExplorerPanel=false]"},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        write(L"High Level Settings", r.document);
        high_level_settings::settings_file settings(nullptr, sub_folder(), L"High Level Settings");
        ASSERT_TRUE(settings.load(false));
        EXPECT_EQ(describe(settings), r.expected);
    }
}

TEST_F(settings_folder_test, suite_settings_answers)
{
    write(L"High Level Settings", R"({"apps": [
        {"app_id": "sortwell", "status": "enabled", "settings": {"general": {"off": false, "on": true, "text": "false",
                                                                            "zero": 0, "list": []}}},
        {"app_id": "other", "status": "disabled"}]})");
    high_level_settings::settings_file settings(nullptr, sub_folder(), L"High Level Settings");
    ASSERT_TRUE(settings.is_app_enabled());
    struct row
    {
        const char* app;
        const char* key;
        bool expected;
    };
    const row rows[] = {
        {"sortwell", "general.off", false}, {"sortwell", "general.on", true},    {"sortwell", "general.text", true},
        {"sortwell", "general.zero", true}, {"sortwell", "general.list", true},  {"sortwell", "general.none", true},
        {"sortwell", "off", true},          {"nobody", "general.off", true},     {"other", "general.off", true},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(std::string(r.app) + " " + r.key);
        EXPECT_EQ(settings.get_bool_setting(r.app, r.key), r.expected);
    }

    struct status_row
    {
        const char* document;
        bool enabled;
    };
    const status_row statuses[] = {
        {R"({"apps": [{"app_id": "sortwell", "status": "disabled"}]})", false},
        {R"({"apps": [{"app_id": "sortwell", "status": "Disabled"}]})", true},
        {R"({"apps": [{"app_id": "sortwell", "status": "disabled "}]})", true},
        {R"({"apps": [{"app_id": "sortwell", "status": false}]})", true},
        {R"({"apps": [{"app_id": "sortwell"}]})", true},
        {R"({"apps": [{"app_id": "other", "status": "disabled"}]})", true},
        {R"({"apps": [{"app_id": "sortwell", "status": "enabled"}, {"app_id": "sortwell", "status": "disabled"}]})",
         true},
    };
    for (const auto& s : statuses)
    {
        SCOPED_TRACE(s.document);
        write(L"High Level Settings", s.document);
        EXPECT_EQ(settings.is_app_enabled(), s.enabled);
    }
}

TEST_F(settings_folder_test, hostile_files_leave_the_previous_contents)
{
    const std::string baseline =
        R"({"version": "base", "apps": [{"app_id": "sortwell", "settings": {"general": {"showInExplorerPanel": false}}}]})";
    const std::string baseline_description = "[sortwell|sortwell||||general.showInExplorerPanel=false]";

    std::mt19937 random(20261205);
    std::string random_bytes(4096, '\0');
    for (auto& byte : random_bytes)
        byte = static_cast<char>(random() & 0xFF);

    struct row
    {
        const char* name;
        std::string bytes;
    };
    const row rows[] = {
        {"random bytes", random_bytes},
        {"empty file", ""},
        {"white space only", " \t\r\n"},
        {"a byte-order mark before a valid document", "\xEF\xBB\xBF{\"apps\": []}"},
        {"invalid UTF-8 inside a string", "{\"version\": \"a\xC3(\", \"apps\": []}"},
        {"an overlong encoding", "{\"version\": \"\xC0\xAF\", \"apps\": []}"},
        {"an encoded surrogate", "{\"version\": \"\xED\xA0\x80\", \"apps\": []}"},
        {"a NUL after the document", std::string("{\"apps\": []}\0{}", 15)},
        {"root is an array", R"([{"apps": []}])"},
        {"root is a string", R"("apps")"},
        {"apps is an object", R"({"apps": {"app_id": "sortwell"}})"},
        {"apps is null", R"({"apps": null})"},
        {"no apps member", R"({"app": []})"},
        {"arrays nested 100,000 deep", nested("[", "]", 100'000)},
        {"objects nested 100,000 deep, never closed", nested("{\"a\":", "", 100'000)},
        {"apps nested 100,000 deep", "{\"apps\": " + nested("[", "]", 100'000) + "}"},
        {"a trailing comma", R"({"apps": [],})"},
        {"a comment", "// settings\n{\"apps\": []}"},
        {"two documents", R"({"apps": []} {"apps": []})"},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        write(L"High Level Settings", baseline);
        high_level_settings::settings_file settings(nullptr, sub_folder(), L"High Level Settings");
        ASSERT_TRUE(settings.load(false));
        ASSERT_EQ(describe(settings), baseline_description);

        write(L"High Level Settings", r.bytes);
        EXPECT_TRUE(settings.load(false)) << "a file that does not give records still counts as read";
        const bool emptied = std::string(r.name) == "apps nested 100,000 deep";
        EXPECT_EQ(describe(settings), emptied ? "" : baseline_description);
        EXPECT_EQ(settings.get_bool_setting("sortwell", "general.showInExplorerPanel"), emptied);
    }
}

TEST(strict_json, accepts_exactly_the_strict_grammar)
{
    struct row
    {
        std::string text;
        bool valid;
    };
    const row rows[] = {
        {"{}", true},
        {" \t\r\n{ \"a\" : [ 1 , -2.5e+3 , 0 , -0 , 1E2 , true , false , null ] }\r\n ", true},
        {"[]", true},
        {"\"text\"", true},
        {"0", true},
        {"null", true},
        {R"({"a": "\u00e9\ud83d\ude00 \" \\ \/ \b \f \n \r \t"})", true},
        {"{\"a\": \"\xC3\xA9\xF0\x9F\x98\x80\"}", true},
        {R"({"a": {"a": {"a": [[[]]]}}})", true},
        {R"({"a": 1, "a": 2})", true},
        {"", false},
        {"   ", false},
        {"{} {}", false},
        {"{}x", false},
        {"{,}", false},
        {R"({"a": 1,})", false},
        {"[1,]", false},
        {"[,1]", false},
        {"// comment\n{}", false},
        {"/* comment */{}", false},
        {"{} // comment", false},
        {"{'a': 1}", false},
        {"{a: 1}", false},
        {R"({"a": 01})", false},
        {R"({"a": +1})", false},
        {R"({"a": .5})", false},
        {R"({"a": 1.})", false},
        {R"({"a": 1e})", false},
        {R"({"a": 0x10})", false},
        {R"({"a": NaN})", false},
        {R"({"a": Infinity})", false},
        {R"({"a": -Infinity})", false},
        {R"({"a": True})", false},
        {R"({"a": tru})", false},
        {R"({"a": nul})", false},
        {R"({"a" 1})", false},
        {R"({"a": 1 "b": 2})", false},
        {R"(["a"]])", false},
        {R"({"a": "\x"})", false},
        {R"({"a": "\u12"})", false},
        {R"({"a": "\'"})", false},
        {"{\"a\": \"tab\there\"}", false},
        {"{\"a\": \"line\nbreak\"}", false},
        {"{\"a\": \"\x01\"}", false},
        {"\xEF\xBB\xBF{}", false},
        {"\f{}", false},
        {"\v{}", false},
        {"\xC2\xA0{}", false},
        {std::string("{}\0", 3), false},
        {std::string("{\"a\": \"x\0y\"}", 12), false},
        {"{\"a\": [", false},
        {"{\"a\": \"unterminated}", false},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(::testing::PrintToString(r.text));
        rapidjson::Document document;
        document.SetObject();
        common::setting_utilities::parse_strict_json(r.text, document);
        // A parse error leaves the document null, whatever it held before.
        EXPECT_EQ(!document.IsNull() || r.text == "null", r.valid);
    }
}

TEST(strict_json, parses_deep_nesting_without_exhausting_the_stack)
{
    for (const int depth : {1'000, 100'000})
    {
        SCOPED_TRACE(depth);
        rapidjson::Document document;
        common::setting_utilities::parse_strict_json(nested("[", "]", depth), document);
        EXPECT_TRUE(document.IsArray());
        common::setting_utilities::parse_strict_json(nested("{\"k\":", "}", depth, "true"), document);
        EXPECT_TRUE(document.IsObject());
        common::setting_utilities::parse_strict_json(nested("{\"k\":", "}", depth), document);
        EXPECT_TRUE(document.IsNull()) << "the innermost member has no value";
    }
    // Unbalanced: opened 100,000 times and closed one time less.
    std::string unbalanced = nested("[", "]", 100'000);
    unbalanced.pop_back();
    rapidjson::Document document;
    common::setting_utilities::parse_strict_json(unbalanced, document);
    EXPECT_TRUE(document.IsNull());
}

TEST_F(settings_folder_test, settings_text_is_decoded_as_utf8_up_to_the_first_bad_sequence)
{
    struct row
    {
        const char* name;
        std::string bytes;
        std::string text;
    };
    const row rows[] = {
        {"plain ASCII", "{\"a\": 1}", "{\"a\": 1}"},
        {"a byte-order mark is kept", "\xEF\xBB\xBF{}", "\xEF\xBB\xBF{}"},
        {"two, three and four byte sequences", "\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80", "\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80"},
        {"a lone continuation byte ends the text", "ab\x80" "cd", "ab"},
        {"a truncated sequence at the end", "ab\xE6\x97", "ab"},
        {"an overlong slash", "ab\xC0\xAF", "ab"},
        {"an encoded surrogate", "ab\xED\xA0\x80" "cd", "ab"},
        {"above U+10FFFF", "ab\xF4\x90\x80\x80", "ab"},
        {"0xFF", "ab\xFF", "ab"},
        {"CR LF stays", "{\r\n}", "{\r\n}"},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        test_support::write_file(file(L"Text"), r.bytes);
        EXPECT_EQ(common::setting_utilities::read_settings_text(file(L"Text")), r.text);
    }
    EXPECT_EQ(common::setting_utilities::read_settings_text(file(L"Missing")), "");
}

TEST_F(settings_folder_test, readers_see_whole_maps_while_the_file_changes)
{
    const std::string a = R"({"apps": [{"app_id": "sortwell", "name": "A", "settings": {"general": {"showInExplorerPanel": false}}},
                                       {"app_id": "x", "name": "A"}]})";
    const std::string b = R"({"apps": [{"app_id": "sortwell", "name": "B", "status": "disabled"},
                                       {"app_id": "y", "name": "B"}, {"app_id": "z", "name": "B"}]})";
    const std::string a_description = "[sortwell|sortwell|A|||general.showInExplorerPanel=false][x|x|A||]";
    const std::string b_description = "[sortwell|sortwell|B||disabled][y|y|B||][z|z|B||]";
    write(L"High Level Settings", a);
    high_level_settings::settings_file settings(nullptr, sub_folder(), L"High Level Settings");
    ASSERT_TRUE(settings.load(false));

    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::atomic<int> snapshots{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
    {
        readers.emplace_back([&, t] {
            while (!done.load())
            {
                if (t == 0)
                    settings.is_app_enabled(); // loads as well, concurrently with the writer's loads
                const std::string seen = describe(settings);
                if (seen != a_description && seen != b_description)
                    ++torn;
                ++snapshots;
            }
        });
    }
    for (int i = 0; i < 150; ++i)
    {
        write(L"High Level Settings", i % 2 ? a : b);
        settings.load(false);
    }
    done = true;
    for (auto& reader : readers)
        reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(snapshots.load(), 0);
}
} // namespace
