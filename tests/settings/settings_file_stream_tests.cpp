// The namespace file is read in one streaming pass rather than through read_settings_text and a
// document tree. These cases hold that pass to the document path: the same text out of the same
// bytes, and the same records out of the same file, for hostile files and random damage alike.

#include "configuration_files.h"

#include "common/setting_utilities/json_document.h"
#include "settings/namespace_settings.h"
#include "settings/settings_file_stream.h"
#include "settings/settings_json.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace
{
using common::setting_utilities::find_member;
using configuration_test::namespace_file;
using namespace_settings::folder_record;
using namespace_settings::query_record;

std::string streamed_text(const std::wstring& path, std::size_t chunk, bool& held_nul)
{
    settings_json::settings_file_stream stream(path, chunk);
    std::string text;
    while (stream.Peek() != '\0')
        text.push_back(stream.Take());
    EXPECT_EQ(stream.Tell(), text.size());
    held_nul = stream.held_nul();
    return text;
}

using settings_stream_test = configuration_test::configuration_files;

TEST_F(settings_stream_test, yields_the_text_that_read_settings_text_gives)
{
    const std::string star = "\xE2\x98\x85";
    std::vector<std::pair<const char*, std::string>> rows = {
        {"empty", ""},
        {"ASCII", R"({"folders":[]})"},
        {"byte-order mark stays", "\xEF\xBB\xBF{}"},
        {"stars", "{\"name\":\"" + star + star + star + "\"}"},
        {"four-byte sequence", "x\xF0\x9F\x98\x80y"},
        {"lone continuation byte", "ab\x80" "cd"},
        {"overlong slash", "ab\xC0\xAF" "cd"},
        {"encoded surrogate", "ab\xED\xA0\x80" "cd"},
        {"above U+10FFFF", "ab\xF4\x90\x80\x80" "cd"},
        {"F5 lead byte", "ab\xF5\x80\x80\x80"},
        {"incomplete sequence at the end", "abc\xE2\x98"},
        {"NUL", std::string("ab\0cd", 5)},
        {"NUL after invalid UTF-8 is not part of the text", std::string("ab\xFF\0", 4)},
        {"NUL in a long ASCII run", std::string(37, 'a') + std::string(1, '\0') + "b"},
    };
    // A three-byte and a four-byte sequence at every position around chunk ends.
    for (std::size_t pad = 0; pad < 9; ++pad)
    {
        rows.push_back({"star across a chunk end", std::string(pad, 'a') + star + std::string(pad, 'b') + star});
        rows.push_back({"invalid byte at a chunk end", std::string(pad, 'a') + "\xE2\x98" "a" + star});
        rows.push_back({"emoji across a chunk end", std::string(pad, 'a') + "\xF0\x9F\x98\x80" "z"});
    }
    for (const auto& [name, bytes] : rows)
    {
        test_support::write_file(namespace_file(), bytes);
        const std::string expected = common::setting_utilities::read_settings_text(namespace_file());
        const std::string before_nul = expected.substr(0, expected.find('\0'));
        for (const std::size_t chunk : {4, 5, 7, 8, 13, 64 * 1024})
        {
            SCOPED_TRACE(std::string(name) + ", " + std::to_string(bytes.size()) + " bytes, chunk " +
                         std::to_string(chunk));
            bool held_nul = false;
            EXPECT_EQ(streamed_text(namespace_file().wstring(), chunk, held_nul), before_nul);
            EXPECT_EQ(held_nul, expected.find('\0') != std::string::npos);
        }
    }
}

TEST_F(settings_stream_test, a_missing_file_is_an_empty_text)
{
    bool held_nul = true;
    EXPECT_EQ(streamed_text(namespace_file().wstring(), 64 * 1024, held_nul), "");
    EXPECT_FALSE(held_nul);
}

// The document-tree reading of the namespace file, member by member: the reference for the streaming
// reader.
query_record reference_query(const rapidjson::Value& element)
{
    using namespace settings_json;
    query_record record;
    if (!element.IsObject())
        return record;
    record.name = wide_member(element, "name").value_or(L"");
    record.order = int32_member(element, "order");
    record.hint = wide_member(element, "hint");
    record.icon = wide_member(element, "icon").value_or(L"");
    record.query = wide_member(element, "query").value_or(L"");
    record.action_type = wide_member(element, "action_type");
    record.action_parameters = wide_member(element, "action_parameters");
    record.enabled = bool_member(element, "enabled");
    record.target = wide_member(element, "target");
    return record;
}

struct reference_result
{
    bool changes = false;
    std::optional<std::wstring> version;
    std::optional<std::vector<folder_record>> folders;
};

reference_result reference_read(const std::string& bytes)
{
    using namespace settings_json;
    rapidjson::Document document;
    common::setting_utilities::parse_strict_json(
        [&] {
            test_support::write_file(namespace_file(), bytes);
            return common::setting_utilities::read_settings_text(namespace_file());
        }(),
        document);
    reference_result result;
    if (!document.IsObject())
        return result;
    result.changes = true;
    result.version = wide_member(document, "version");
    const auto* folders = find_member(document, "folders");
    if (!folders || !folders->IsArray())
        return result;
    result.folders.emplace();
    for (const auto& element : folders->GetArray())
    {
        folder_record record;
        if (element.IsObject())
        {
            record.name = wide_member(element, "name").value_or(L"");
            record.order = int32_member(element, "order");
            record.hint = wide_member(element, "hint");
            record.icon = wide_member(element, "icon").value_or(L"");
            record.enabled = bool_member(element, "enabled");
            record.default_view = wide_member(element, "default_view");
            const auto* queries = find_member(element, "queries");
            if (queries && queries->IsArray())
                for (const auto& query : queries->GetArray())
                    record.queries.push_back(reference_query(query));
        }
        result.folders->push_back(std::move(record));
    }
    return result;
}

// Loads the bytes over a file that held a known record and compares with the reference.
void expect_same_as_reference(const std::string& bytes)
{
    const std::vector<folder_record> before = {{.name = L"before"}};
    const auto reference = reference_read(bytes);
    namespace_settings::settings_file settings(nullptr);
    settings.set_version(L"v0");
    settings.folders() = before;
    ASSERT_TRUE(settings.read());
    EXPECT_EQ(settings.version(), reference.version.value_or(L"v0"));
    EXPECT_TRUE(settings.folders() == reference.folders.value_or(before))
        << "folders " << settings.folders().size() << ", reference " << reference.folders.value_or(before).size();
}

const std::string sample = R"({"version":"1.0","extra":{"folders":[{"name":"no"}]},"folders":[
    {"name":"Ratings","order":1,"hint":"h","icon":"r.ico","enabled":true,"default_view":"details","queries":[
        {"name":"\u2605\u2605","order":2,"hint":"two","icon":"","query":"System.Rating >= 13","action_type":"set_rating",
         "action_parameters":"2","enabled":false,"target":"C:\\x","name":"dup","unknown":[{"a":[1,{"b":null}]}]},
        "text", 7, [1, [2]], {"order":2.5,"enabled":"true","query":null}],
     "queries":[{"name":"second queries array"}], "name":"dup"},
    {"name":"Tags","order":-3,"queries":{"name":"not an array"}},
    null,
    {"queries":[{"name":"$tags[0].name","icon":"$tags[0].icon","order":4294967296}]}
  ],"folders":[],"version":"2"})";

TEST_F(settings_stream_test, the_streaming_reader_reads_what_the_document_reader_reads)
{
    const std::vector<std::string> rows = {
        sample,
        "",
        "[]",
        "\"text\"",
        "42",
        "{}",
        R"({"folders":null})",
        R"({"folders":[],"folders":[{"name":"second"}]})",
        R"({"folders":{"a":[]},"folders":[{"name":"second"}]})",
        R"({"version":1,"version":"second"})",
        R"({"folders":[{"queries":5,"queries":[{"name":"second"}]}]})",
        R"({"folders":[{"queries":[{"enabled":true,"enabled":false,"order":1,"order":2}]}]})",
        R"({"folders":[{"name":"a"}]} x)",
        R"({"folders":[{"name":"a"}],})",
        "\xEF\xBB\xBF{}",
        std::string(R"({"folders":[{"name":"a"}]})") + std::string(1, '\0'),
        R"({"folders":[{"na\u0000me":"x","name":"y"}]})",
        R"({"folders":[{"name":"\ud800"}]})",
        "{\"folders\":[{\"name\":\"a\xC3\"}]}",
    };
    for (const auto& bytes : rows)
    {
        SCOPED_TRACE(bytes.substr(0, 80));
        expect_same_as_reference(bytes);
    }
}

TEST_F(settings_stream_test, damaged_files_read_as_the_document_reader_reads_them)
{
    // Bounded and deterministic: the same damage every run.
    std::mt19937 random(20240611);
    const std::string alphabet = "{}[]:,\"\\ntfu0123456789.-e \xE2\x98\x85\x80";
    for (int round = 0; round < 600; ++round)
    {
        std::string bytes = sample;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits && !bytes.empty(); ++e)
        {
            const std::size_t at = random() % bytes.size();
            switch (random() % 3)
            {
            case 0:
                bytes[at] = alphabet[random() % alphabet.size()];
                break;
            case 1:
                bytes.erase(at, 1 + random() % 8);
                break;
            default:
                bytes.insert(at, 1, alphabet[random() % alphabet.size()]);
                break;
            }
        }
        SCOPED_TRACE("round " + std::to_string(round) + ": " + bytes);
        expect_same_as_reference(bytes);
        if (HasFailure())
            break;
    }
}
} // namespace
