// Job files and the start of the batch worker (the stand-in beside the test executable records what it
// was started with and what it read).

#include "batch_worker_records.h"
#include "commands/batch_job.h"
#include "diagnostics/log.h"
#include "fake_shell_routes.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

using namespace test_support;

namespace
{
// Points GetTempPathW (and so the job files) at another folder while it lives.
class temp_folder_override
{
public:
    explicit temp_folder_override(const std::wstring& folder)
    {
        for (const wchar_t* name : {L"TMP", L"TEMP"})
        {
            wchar_t value[MAX_PATH * 2] = {};
            const DWORD length = GetEnvironmentVariableW(name, value, static_cast<DWORD>(std::size(value)));
            saved_.emplace_back(name, std::wstring(value, length));
            SetEnvironmentVariableW(name, folder.c_str());
        }
    }
    ~temp_folder_override()
    {
        for (const auto& [name, value] : saved_)
            SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
    }

private:
    std::vector<std::pair<std::wstring, std::wstring>> saved_;
};

// The job file named by a start's arguments, removed afterwards.
class job_file_cleanup
{
public:
    ~job_file_cleanup()
    {
        for (const auto& file : files_)
        {
            std::error_code ec;
            std::filesystem::permissions(file, std::filesystem::perms::owner_write, std::filesystem::perm_options::add,
                                         ec);
            std::filesystem::remove(file, ec);
        }
    }
    void add(const std::filesystem::path& file) { files_.push_back(file); }

private:
    std::vector<std::filesystem::path> files_;
};

std::wstring worker_path()
{
    return batch_worker_path().wstring();
}

bool is_guid_text(const std::string& text)
{
    if (text.size() != 36)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        const char c = text[i];
        if (hyphen ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

// The identifier in "...\velmora_<id>.json.tmp", or empty when the name has another shape.
std::string guid_of_job_file(const std::filesystem::path& file)
{
    const std::string name = to_utf8(file.filename().wstring());
    const std::string prefix = "velmora_", suffix = ".json.tmp";
    if (name.size() != prefix.size() + 36 + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix))
        return {};
    const std::string guid = name.substr(prefix.size(), 36);
    return is_guid_text(guid) ? guid : std::string();
}

// The job a submission handed to the fake shell: the text after the quoted worker path.
std::filesystem::path job_file_of(const shell_route_call& call)
{
    const std::wstring head = L"/c start \"\" \"" + worker_path() + L"\" ";
    if (!call.parameters.starts_with(head))
        return {};
    return call.parameters.substr(head.size());
}

std::filesystem::path temp_folder()
{
    wchar_t folder[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, folder);
    return std::filesystem::path(folder);
}

// Café ☕ 日本 in UTF-16 and UTF-8, as the job file writes a path outside ASCII.
const std::wstring non_ascii_path = L"D:\\Bilder\\Caf\u00e9 \u2615\\\u65e5\u672c.png";
const std::string non_ascii_path_json = "D:\\\\Bilder\\\\Caf\xc3\xa9 \xe2\x98\x95\\\\\xe6\x97\xa5\xe6\x9c\xac.png";
} // namespace

TEST(make_guid_text, has_the_registry_form_without_braces)
{
    // Each byte distinct, so a swapped or reversed field shows.
    const GUID guid = {0x0F8E4C2A, 0x1B2C, 0x4D5E, {0x8F, 0x90, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}};
    EXPECT_EQ(guid_text(guid), "0F8E4C2A-1B2C-4D5E-8F90-A1B2C3D4E5F6");
    const GUID small = {0x1, 0x2, 0x3, {0, 0x4, 0, 0, 0, 0, 0, 0x5}};
    EXPECT_EQ(guid_text(small), "00000001-0002-0003-0004-000000000005");

    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i)
    {
        const std::string text = make_guid_text();
        ASSERT_TRUE(is_guid_text(text)) << text;
        // Agrees with the system's own form of the same GUID.
        GUID parsed{};
        ASSERT_EQ(hresult_bits(CLSIDFromString(from_utf8("{" + text + "}").c_str(), &parsed)), hresult_bits(S_OK));
        ASSERT_EQ(guid_text(parsed), text);
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 1000u);
}

TEST(submit_batch_job, writes_the_job_file_byte_for_byte_and_starts_the_worker_with_it)
{
    batch_worker_recorder recorder;
    job_file_cleanup cleanup;

    submit_batch_job(nullptr, {L"C:\\Photos\\a.jpg", non_ascii_path}, action_type::set_rating, L"3");

    const auto records = recorder.wait_for_count(1);
    ASSERT_EQ(records.size(), 1u) << "the worker stand-in never recorded a start";
    const std::filesystem::path job_file = records[0].arguments;
    cleanup.add(job_file);
    EXPECT_EQ(job_file.parent_path(), temp_folder().parent_path()) << to_utf8(job_file.wstring());
    const std::string guid = guid_of_job_file(job_file);
    ASSERT_FALSE(guid.empty()) << to_utf8(job_file.wstring());

    const std::string expected = "{\r\n"
                                 "    \"version\": \"1.0\",\r\n"
                                 "    \"job\": {\r\n"
                                 "        \"guid\": \"" +
                                 guid +
                                 "\",\r\n"
                                 "        \"action_type\": \"set_rating\",\r\n"
                                 "        \"action_parameters\": \"3\"\r\n"
                                 "    },\r\n"
                                 "    \"files\": [\r\n"
                                 "        {\r\n"
                                 "            \"path\": \"C:\\\\Photos\\\\a.jpg\"\r\n"
                                 "        },\r\n"
                                 "        {\r\n"
                                 "            \"path\": \"" +
                                 non_ascii_path_json +
                                 "\"\r\n"
                                 "        }\r\n"
                                 "    ]\r\n"
                                 "}";
    EXPECT_EQ(read_file(job_file), expected);
    // The worker found the file complete when it started.
    ASSERT_TRUE(records[0].job_file);
    EXPECT_EQ(*records[0].job_file, expected);
    EXPECT_EQ(to_utf8(records[0].command_line), to_utf8(L"\"" + worker_path() + L"\" " + job_file.wstring()));
}

TEST(batch_job, json_names_the_action_as_the_worker_knows_it)
{
    struct row
    {
        const char* name;
        action_type action;
        std::wstring parameters;
        std::vector<std::wstring> files;
        std::string body; // everything after the guid line
    };
    const std::string empty_files = "    },\n    \"files\": []\n}";
    const row rows[] = {
        {"toggle_tags with parameters", action_type::toggle_tags, L"tag:\"a b\";x\\y", {},
         "        \"action_type\": \"toggle_tags\",\n"
         "        \"action_parameters\": \"tag:\\\"a b\\\";x\\\\y\"\n" +
             empty_files},
        {"media action is not a batch action", action_type::media_play_pause, L"", {},
         "        \"action_type\": \"unknown\",\n"
         "        \"action_parameters\": \"\"\n" +
             empty_files},
        {"icon action keeps its name", action_type::icon_set_default_icon, L"", {},
         "        \"action_type\": \"icon_set_default_icon\",\n"
         "        \"action_parameters\": \"\"\n" +
             empty_files},
        {"out of range", static_cast<action_type>(200), L"", {},
         "        \"action_type\": \"unknown\",\n"
         "        \"action_parameters\": \"\"\n" +
             empty_files},
        {"control characters escaped", action_type::auto_tag, L"\t", {L"a\nb"},
         "        \"action_type\": \"auto_tag\",\n"
         "        \"action_parameters\": \"\\t\"\n"
         "    },\n    \"files\": [\n        {\n            \"path\": \"a\\nb\"\n        }\n    ]\n}"},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        batch_job job(r.files, action_type_to_text(r.action), r.parameters);
        EXPECT_EQ(job.to_json(), "{\n    \"version\": \"1.0\",\n    \"job\": {\n        \"guid\": \"\",\n" + r.body);
    }
}

TEST(action_type, reads_names_exactly)
{
    struct row
    {
        std::wstring text;
        action_type expected;
    };
    const row rows[] = {
        {L"set_rating", action_type::set_rating},
        {L"SET_RATING", action_type::unknown},
        {L"set_rating ", action_type::unknown},
        {L"", action_type::unknown},
        {L"unknown", action_type::unknown},
        {L"icon_set_builtin_icon", action_type::icon_set_builtin_icon},
        {L"icon_set_custom_icon", action_type::icon_set_custom_icon},
        {L"media_microphone_unmute", action_type::media_microphone_unmute},
        {L"wipe_all_people", action_type::wipe_all_people},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(to_utf8(r.text));
        EXPECT_EQ(static_cast<int>(action_type_from_text(r.text)), static_cast<int>(r.expected));
    }
    // Every batch action's written name reads back as itself; the others are written "unknown".
    for (int value = 0; value <= 27; ++value)
    {
        SCOPED_TRACE(value);
        const auto action = static_cast<action_type>(value);
        const std::wstring text = action_type_to_text(action);
        const bool batch_action = value <= 5 || (value >= 17 && value <= 26);
        if (batch_action)
            EXPECT_EQ(static_cast<int>(action_type_from_text(text)), value) << to_utf8(text);
        else
            EXPECT_EQ(text, L"unknown");
    }
}

TEST(submit_batch_job, empty_file_list_still_starts_the_worker)
{
    batch_worker_recorder recorder;
    job_file_cleanup cleanup;

    submit_batch_job(nullptr, {}, action_type::toggle_tags, L"Holiday");

    const auto records = recorder.wait_for_count(1);
    ASSERT_EQ(records.size(), 1u);
    cleanup.add(records[0].arguments);
    ASSERT_TRUE(records[0].job_file);
    EXPECT_TRUE(records[0].job_file->ends_with("        \"action_parameters\": \"Holiday\"\r\n"
                                               "    },\r\n"
                                               "    \"files\": []\r\n"
                                               "}"))
        << *records[0].job_file;
}

TEST(submit_batch_job, two_jobs_in_the_same_second_get_their_own_files)
{
    batch_worker_recorder recorder;
    job_file_cleanup cleanup;

    submit_batch_job(nullptr, {L"C:\\one.txt"}, action_type::set_rating, L"1");
    submit_batch_job(nullptr, {L"C:\\two.txt"}, action_type::set_rating, L"2");

    const auto records = recorder.wait_for_count(2);
    ASSERT_EQ(records.size(), 2u);
    for (const auto& record : records)
        cleanup.add(record.arguments);
    EXPECT_NE(records[0].arguments, records[1].arguments);
    EXPECT_NE(guid_of_job_file(records[0].arguments), guid_of_job_file(records[1].arguments));
    // Each worker read its own job, whichever started first.
    int ones = 0, twos = 0;
    for (const auto& record : records)
    {
        ASSERT_TRUE(record.job_file);
        ones += record.job_file->find("C:\\\\one.txt") != std::string::npos;
        twos += record.job_file->find("C:\\\\two.txt") != std::string::npos;
        EXPECT_NE(record.job_file->find("\"guid\": \"" + guid_of_job_file(record.arguments) + "\""), std::string::npos);
    }
    EXPECT_EQ(ones, 1);
    EXPECT_EQ(twos, 1);
}

TEST(submit_batch_job, temporary_folder_with_blanks_reaches_the_worker_unquoted)
{
    scratch_folder scratch(L"batch job");
    const std::filesystem::path folder = scratch.path() / L"with blanks \u00fc";
    std::filesystem::create_directories(folder);
    temp_folder_override temp(folder.wstring());
    batch_worker_recorder recorder;
    job_file_cleanup cleanup;

    submit_batch_job(nullptr, {L"C:\\x.txt"}, action_type::remove_rating, L"");

    const auto records = recorder.wait_for_count(1);
    ASSERT_EQ(records.size(), 1u);
    cleanup.add(records[0].arguments);
    EXPECT_EQ(std::filesystem::path(records[0].arguments).parent_path(), folder);
    EXPECT_FALSE(guid_of_job_file(records[0].arguments).empty());
    EXPECT_EQ(records[0].arguments.find(L'"'), std::wstring::npos);
    EXPECT_TRUE(records[0].job_file);
}

TEST(submit_batch_job, failures_raise_their_errors_and_a_written_job_stays)
{
    scratch_folder scratch(L"batch job failures");

    {
        SCOPED_TRACE("no temporary folder");
        const auto missing = scratch.path() / L"missing";
        temp_folder_override temp(missing.wstring());
        shell_routes_override override;
        try
        {
            submit_batch_job(nullptr, {L"C:\\x.txt"}, action_type::set_rating, L"5");
            ADD_FAILURE() << "no exception";
        }
        catch (const std::filesystem::filesystem_error& e)
        {
            EXPECT_NE(std::string(e.what()).find("temp_directory_path"), std::string::npos) << e.what();
        }
        EXPECT_FALSE(std::filesystem::exists(missing));
        EXPECT_TRUE(override.routes().first_calls.empty());
    }
    {
        SCOPED_TRACE("the shell refuses both ways");
        temp_folder_override temp(scratch.path().wstring());
        shell_routes_override override;
        try
        {
            submit_batch_job(nullptr, {L"C:\\x.txt"}, action_type::set_rating, L"5");
            ADD_FAILURE() << "no exception";
        }
        catch (const std::runtime_error& e)
        {
            EXPECT_STREQ(e.what(), "Failed to launch process via Explorer (ShellExecute fallback failed).");
        }
        ASSERT_EQ(override.routes().first_calls.size(), 1u);
        ASSERT_EQ(override.routes().second_calls.size(), 1u);
        const auto job_file = job_file_of(override.routes().first_calls[0]);
        EXPECT_EQ(job_file.parent_path(), scratch.path());
        // Left for a later attempt of the worker's own, complete.
        EXPECT_TRUE(read_file(job_file).ends_with("\"path\": \"C:\\\\x.txt\"\r\n        }\r\n    ]\r\n}"));
    }
    {
        SCOPED_TRACE("the job file cannot be created");
        // A folder that exists but takes no files: the root of /proc through Wine's Z: drive.
        const std::wstring unwritable = L"Z:\\proc";
        if (GetFileAttributesW(L"Z:\\proc\\self") == INVALID_FILE_ATTRIBUTES)
            GTEST_SKIP() << "no /proc through Z:";
        temp_folder_override temp(unwritable);
        shell_routes_override override;
        try
        {
            submit_batch_job(nullptr, {L"C:\\x.txt"}, action_type::set_rating, L"5");
            ADD_FAILURE() << "no exception";
        }
        catch (const std::runtime_error& e)
        {
            const std::string message = e.what();
            EXPECT_TRUE(message.starts_with("Failed to open file for writing: Z:\\proc\\velmora_")) << message;
            EXPECT_TRUE(message.ends_with(".json.tmp")) << message;
        }
        EXPECT_TRUE(override.routes().first_calls.empty());
    }
}

TEST(batch_job, removes_an_abandoned_job_file_on_destruction)
{
    scratch_folder scratch(L"batch job removal");
    temp_folder_override temp(scratch.path().wstring());
    struct row
    {
        const char* name;
        bool make_path;
        bool create_file;
        bool keep;
        bool file_stays;
    };
    const row rows[] = {
        {"abandoned with a file", true, true, false, false},
        {"kept for the worker", true, true, true, true},
        {"path made, no file", true, false, false, false},
        {"path never made", false, false, false, false},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        std::filesystem::path file;
        {
            batch_job job({L"C:\\x.txt"}, L"set_rating", L"1");
            EXPECT_TRUE(job.guid().empty());
            if (r.make_path)
            {
                file = job.make_job_file_path();
                // Made once: a second call answers the same path.
                EXPECT_EQ(job.make_job_file_path(), file);
                EXPECT_EQ(guid_of_job_file(file), job.guid());
                EXPECT_EQ(file.parent_path(), scratch.path());
            }
            if (r.create_file)
                write_file(file, "{}");
            if (r.keep)
                job.keep_job_file();
        }
        if (!file.empty())
        {
            EXPECT_EQ(std::filesystem::exists(file), r.file_stays);
            std::error_code ec;
            std::filesystem::remove(file, ec);
        }
    }

    // A file that cannot be removed raises the error of "remove" from the destructor.
    std::filesystem::path file;
    bool raised = false;
    try
    {
        batch_job job({}, L"set_rating", L"1");
        file = job.make_job_file_path();
        write_file(file, "{}");
        ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    }
    catch (const std::filesystem::filesystem_error& e)
    {
        raised = true;
        EXPECT_NE(std::string(e.what()).find("remove"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(raised);
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
}
