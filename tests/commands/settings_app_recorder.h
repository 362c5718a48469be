#pragma once
// What the stand-ins beside the test executable, the Settings app ("Velmora.exe") and the batch worker,
// record of their starts, for any test that starts one. The recorder also waits for each recorded start
// of the Settings app to end, so no stand-in is left running in the prefix.

#include "base/log.h"
#include "base/raii.h"
#include "start_record/start_record_reader.h"
#include "support/test_files.h"

#include <rapidjson/document.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace settings_app_test
{
inline std::filesystem::path settings_app_path()
{
    return test_support::executable_folder() / L"Velmora.exe";
}

// What a stand-in recorded of one start.
struct start
{
    std::wstring command_line;
    std::wstring arguments;
    std::wstring working_directory; // the Settings app's
    std::optional<std::string> job_file; // the batch worker's: the bytes of the job file it was given
    DWORD process_id = 0; // the Settings app's
    // False when a process without our environment (Explorer's desktop) started it, which makes the
    // stand-in record beside itself.
    bool inherited_environment = true;
};
using settings_app_record = start;

// Points a stand-in at a fresh record file for its lifetime (what it starts inherits the environment
// variable); a start without our environment records in `fallback_file`, beside the stand-in.
class start_recorder
{
public:
    start_recorder(const wchar_t* variable, std::wstring_view file_prefix, const std::filesystem::path& fallback_file)
        : records_(variable, file_prefix, fallback_file)
    {
    }

    // Waits until `count` starts have been recorded (at most `patience`) and each recorded process has
    // ended; answers the records there are then.
    std::vector<start> wait_for(std::size_t count, std::chrono::milliseconds patience = std::chrono::seconds(30)) const
    {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        auto records = records_.read();
        for (; records.size() < count && std::chrono::steady_clock::now() <= deadline; records = records_.read())
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::vector<start> all;
        for (const auto& record : records)
        {
            all.push_back({record.wide_text("command_line"), record.wide_text("arguments"),
                           record.wide_text("working_directory"), record.text("job_file"), record.number("process_id"),
                           record.inherited_environment});
            const unique_handle process(OpenProcess(SYNCHRONIZE, FALSE, all.back().process_id));
            if (process)
                WaitForSingleObject(process.get(), 30'000);
        }
        return all;
    }

private:
    start_record::record_file records_;
};

// The Settings app stand-in's starts; one without our environment records in `app_folder`.
struct settings_app_recorder : start_recorder
{
    explicit settings_app_recorder(const std::filesystem::path& app_folder = settings_app_path().parent_path())
        : start_recorder(L"VELMORA_SETTINGS_APP_RECORD", L"velmora-test-settings-app-", app_folder / L"Velmora.records.jsonl")
    {
    }
};
} // namespace settings_app_test
