// Job files and the start of the batch worker (the stand-in beside the test executable records what it
// was started with and what it read).

#include "commands/batch_job.h"

#include "commands_test_support.h"

#include <gtest/gtest.h>

#include <regex>

using namespace commands_test;

namespace
{
// Every job goes to a temporary folder whose path holds blanks and a character outside ASCII, removed
// with what it holds afterwards.
class batch_job_test : public ::testing::Test
{
protected:
    test_support::scratch_folder scratch{L"batch job \u00fc"};
    temp_folder_override temp{scratch.path()};
};

// The form's shape for any GUID is the file-name fuzzer's; here the order of the bytes, and a new GUID
// for every job.
TEST(make_guid_text, has_the_registry_form_without_braces)
{
    // Each byte distinct, so a swapped or reversed field shows.
    EXPECT_EQ(guid_text({0x0F8E4C2A, 0x1B2C, 0x4D5E, {0x8F, 0x90, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}}),
              "0F8E4C2A-1B2C-4D5E-8F90-A1B2C3D4E5F6");
    EXPECT_NE(make_guid_text(), make_guid_text());
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
    const std::string name = to_utf8(job_file.filename().wstring());
    const std::regex shape(R"(velmora_([0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12})\.json\.tmp)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(name, match, shape)) << name;
    const std::string guid = match[1].str();
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
} // namespace
