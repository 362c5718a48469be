// Job files and the start of the batch worker (the stand-in beside the test executable records what it
// was started with and what it read).

#include "commands/batch_job.h"

#include "commands_test_support.h"

#include <gtest/gtest.h>

#include <regex>

using namespace commands_test;

namespace
{
// The identifier in "...\velmora_<id>.json.tmp", or empty when the name has another shape.
std::string guid_of_job_file(const std::filesystem::path& file)
{
    static const std::regex name(R"(velmora_([0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12})\.json\.tmp)");
    std::smatch match;
    const std::string text = to_utf8(file.filename().wstring());
    return std::regex_match(text, match, name) ? match[1].str() : std::string();
}

// Every job goes to a temporary folder whose path holds blanks and a character outside ASCII, removed
// with what it holds afterwards.
class batch_job_test : public ::testing::Test
{
protected:
    test_support::scratch_folder scratch{L"batch job \u00fc"};
    temp_folder_override temp{scratch.path()};
};

// The form's shape for any GUID is the file-name fuzzer's; here the order of the bytes.
TEST(make_guid_text, has_the_registry_form_without_braces)
{
    // Each byte distinct, so a swapped or reversed field shows.
    EXPECT_EQ(guid_text({0x0F8E4C2A, 0x1B2C, 0x4D5E, {0x8F, 0x90, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}}),
              "0F8E4C2A-1B2C-4D5E-8F90-A1B2C3D4E5F6");
    const std::string text = make_guid_text();
    EXPECT_NE(make_guid_text(), text);
    // Agrees with the system's own form of the same GUID.
    GUID parsed{};
    ASSERT_EQ(hresult_bits(CLSIDFromString(from_utf8("{" + text + "}").c_str(), &parsed)), hresult_bits(S_OK));
    EXPECT_EQ(guid_text(parsed), text);
}

TEST(action_type, reads_names_exactly_and_writes_only_batch_actions)
{
    const std::pair<const wchar_t*, int> rows[] = {
        {L"set_rating", 0}, {L"SET_RATING", 27}, {L"set_rating ", 27}, {L"", 27}, {L"unknown", 27},
        {L"media_microphone_unmute", 16}, {L"icon_set_builtin_icon", 17}, {L"icon_set_default_icon", 18},
        {L"icon_set_custom_icon", 19}, {L"wipe_all_people", 26},
    };
    for (const auto& [text, value] : rows)
        EXPECT_EQ(static_cast<int>(action_type_from_text(text)), value) << to_utf8(text);
    // Every batch action's written name reads back as itself; the others, and values out of range, are
    // written "unknown".
    for (int value = 0; value <= 255; ++value)
    {
        const std::wstring text = action_type_to_text(static_cast<action_type>(value));
        if (value <= 5 || (value >= 17 && value <= 26))
            EXPECT_EQ(static_cast<int>(action_type_from_text(text)), value) << to_utf8(text);
        else
            EXPECT_EQ(text, L"unknown") << value;
    }
}

TEST(batch_job, json_escapes_the_parameters_and_paths)
{
    EXPECT_EQ(batch_job({L"a\nb", L"C:\\x"}, L"toggle_tags", L"tag:\"a b\";x\\y\t").to_json(),
              "{\n    \"version\": \"1.0\",\n    \"job\": {\n        \"guid\": \"\",\n        \"action_type\": "
              "\"toggle_tags\",\n        \"action_parameters\": \"tag:\\\"a b\\\";x\\\\y\\t\"\n    },\n    \"files\": [\n"
              "        {\n            \"path\": \"a\\nb\"\n        },\n        {\n            \"path\": \"C:\\\\x\"\n        }\n"
              "    ]\n}");
}

TEST_F(batch_job_test, writes_the_job_file_byte_for_byte_and_starts_the_worker_with_it_unquoted)
{
    batch_worker_recorder recorder;
    submit_batch_job(nullptr, {L"C:\\Photos\\a.jpg", L"D:\\Bilder\\Caf\u00e9 \u2615\\\u65e5\u672c.png"},
                     action_type::set_rating, L"3");

    const auto records = recorder.wait_for(1);
    ASSERT_EQ(records.size(), 1u) << "the worker stand-in never recorded a start";
    const std::filesystem::path job_file = records[0].arguments;
    EXPECT_EQ(job_file.parent_path(), scratch.path());
    const std::string guid = guid_of_job_file(job_file);
    ASSERT_FALSE(guid.empty()) << to_utf8(job_file.wstring());
    const std::string expected = "{\r\n"
                                 "    \"version\": \"1.0\",\r\n"
                                 "    \"job\": {\r\n"
                                 "        \"guid\": \"" + guid + "\",\r\n"
                                 "        \"action_type\": \"set_rating\",\r\n"
                                 "        \"action_parameters\": \"3\"\r\n"
                                 "    },\r\n"
                                 "    \"files\": [\r\n"
                                 "        {\r\n"
                                 "            \"path\": \"C:\\\\Photos\\\\a.jpg\"\r\n"
                                 "        },\r\n"
                                 "        {\r\n"
                                 "            \"path\": \"D:\\\\Bilder\\\\Caf\xc3\xa9 \xe2\x98\x95\\\\\xe6\x97\xa5\xe6\x9c\xac.png\"\r\n"
                                 "        }\r\n"
                                 "    ]\r\n"
                                 "}";
    EXPECT_EQ(test_support::read_file(job_file), expected);
    // The worker found the file complete when it started, its path unquoted after the worker's own
    // quoted path although it holds blanks.
    EXPECT_EQ(records[0].job_file, expected);
    EXPECT_EQ(to_utf8(records[0].command_line), to_utf8(L"\"" + batch_worker_path().wstring() + L"\" " + job_file.wstring()));
}

TEST_F(batch_job_test, two_jobs_in_the_same_second_and_an_empty_file_list_each_start_the_worker)
{
    batch_worker_recorder recorder;
    submit_batch_job(nullptr, {}, action_type::toggle_tags, L"Holiday");
    submit_batch_job(nullptr, {L"C:\\two.txt"}, action_type::set_rating, L"2");

    const auto records = recorder.wait_for(2);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_NE(guid_of_job_file(records[0].arguments), guid_of_job_file(records[1].arguments));
    // Each worker read its own job, whichever started first.
    int empty = 0, two = 0;
    for (const auto& record : records)
    {
        ASSERT_TRUE(record.job_file);
        empty += record.job_file->ends_with("\"Holiday\"\r\n    },\r\n    \"files\": []\r\n}");
        two += record.job_file->find("C:\\\\two.txt") != std::string::npos;
        EXPECT_NE(record.job_file->find("\"guid\": \"" + guid_of_job_file(record.arguments) + "\""), std::string::npos);
    }
    EXPECT_EQ(empty, 1);
    EXPECT_EQ(two, 1);
}

TEST_F(batch_job_test, failures_raise_their_errors_and_a_written_job_stays)
{
    const auto submit = [] { submit_batch_job(nullptr, {L"C:\\x.txt"}, action_type::set_rating, L"5"); };
    {
        SCOPED_TRACE("the shell refuses both ways (S_FALSE is no start either)");
        shell_routes_override routes;
        routes.second_answer = S_FALSE;
        EXPECT_EQ(error_of<std::runtime_error>(submit), "Failed to launch process via Explorer (ShellExecute fallback failed).");
        ASSERT_EQ(routes.first_calls.size(), 1u);
        ASSERT_EQ(routes.second_calls.size(), 1u);
        EXPECT_EQ(routes.first_calls[0].file, batch_worker_path().wstring());
        const std::filesystem::path job_file = routes.first_calls[0].parameters;
        EXPECT_EQ(job_file.parent_path(), scratch.path());
        // Left complete for a later attempt of the worker's own.
        EXPECT_TRUE(test_support::read_file(job_file).ends_with("\"path\": \"C:\\\\x.txt\"\r\n        }\r\n    ]\r\n}"));
    }
    {
        SCOPED_TRACE("no temporary folder");
        temp_folder_override missing(scratch.path() / L"missing");
        shell_routes_override routes;
        EXPECT_NE(error_of<std::filesystem::filesystem_error>(submit).find("temp_directory_path"), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(scratch.path() / L"missing"));
        EXPECT_TRUE(routes.first_calls.empty());
    }
    {
        SCOPED_TRACE("the job file cannot be created");
        // A folder that exists but takes no files: the root of /proc through Wine's Z: drive.
        if (GetFileAttributesW(L"Z:\\proc\\self") == INVALID_FILE_ATTRIBUTES)
            GTEST_SKIP() << "no /proc through Z:";
        temp_folder_override unwritable(L"Z:\\proc");
        shell_routes_override routes;
        const std::string message = error_of<std::runtime_error>(submit);
        EXPECT_TRUE(message.starts_with("Failed to open file for writing: Z:\\proc\\velmora_")) << message;
        EXPECT_TRUE(message.ends_with(".json.tmp")) << message;
        EXPECT_TRUE(routes.first_calls.empty());
    }
}

TEST_F(batch_job_test, removes_an_abandoned_job_file_on_destruction)
{
    const std::tuple<const char*, bool, bool, bool> rows[] = {
        // name, file written, kept for the worker, file stays
        {"abandoned with a file", true, false, false},
        {"kept for the worker", true, true, true},
        {"path made, no file", false, false, false},
    };
    for (const auto& [name, create_file, keep, file_stays] : rows)
    {
        SCOPED_TRACE(name);
        std::filesystem::path file;
        {
            batch_job job({L"C:\\x.txt"}, L"set_rating", L"1");
            EXPECT_TRUE(job.guid().empty());
            file = job.make_job_file_path();
            EXPECT_EQ(job.make_job_file_path(), file) << "made once";
            EXPECT_EQ(guid_of_job_file(file), job.guid());
            EXPECT_EQ(file.parent_path(), scratch.path());
            if (create_file)
                test_support::write_file(file, "{}");
            if (keep)
                job.keep_job_file();
        }
        EXPECT_EQ(std::filesystem::exists(file), file_stays);
    }
    // A file that cannot be removed raises the error of "remove" from the destructor.
    std::filesystem::path read_only;
    const std::string error = error_of<std::filesystem::filesystem_error>([&] {
        batch_job job({}, L"set_rating", L"1");
        read_only = job.make_job_file_path();
        test_support::write_file(read_only, "{}");
        SetFileAttributesW(read_only.c_str(), FILE_ATTRIBUTE_READONLY);
    });
    EXPECT_NE(error.find("remove"), std::string::npos) << error;
    SetFileAttributesW(read_only.c_str(), FILE_ATTRIBUTE_NORMAL);
}
} // namespace
