#pragma once
// What the Settings app stand-in ("Velmora.exe" beside the test executable) records of its starts, for
// any test that starts the Settings app. The recorder also waits for each recorded start to end, so no
// stand-in is left running in the prefix. The batch worker's recorder waits for its records alike.

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

// The records of `file` once `count` starts have been recorded, else those there are after `patience`.
inline std::vector<start_record::record> wait_for_starts(const start_record::record_file& file, std::size_t count,
                                                         std::chrono::milliseconds patience)
{
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;; std::this_thread::sleep_for(std::chrono::milliseconds(50)))
    {
        auto all = file.read();
        if (all.size() >= count || std::chrono::steady_clock::now() > deadline)
            return all;
    }
}

struct settings_app_record
{
    std::wstring command_line;
    std::wstring arguments;
    std::wstring working_directory;
    DWORD process_id = 0;
    // False when the app was started by a process without our environment (Explorer's desktop), which
    // makes the stand-in record beside itself.
    bool inherited_environment = true;
};

// Points the stand-in at a fresh record file for its lifetime (the app inherits the environment
// variable). An app started without our environment records beside itself, in `app_folder`.
class settings_app_recorder
{
public:
    explicit settings_app_recorder(const std::filesystem::path& app_folder = settings_app_path().parent_path())
        : records_(L"VELMORA_SETTINGS_APP_RECORD", L"velmora-test-settings-app-", app_folder / L"Velmora.records.jsonl")
    {
    }

    // Waits until `count` starts have been recorded (at most `patience`) and each recorded process has
    // ended; answers the records there are then.
    std::vector<settings_app_record> wait_for(std::size_t count,
                                              std::chrono::milliseconds patience = std::chrono::seconds(30)) const
    {
        std::vector<settings_app_record> all;
        for (const auto& record : wait_for_starts(records_, count, patience))
        {
            all.push_back({record.wide_text("command_line"), record.wide_text("arguments"),
                           record.wide_text("working_directory"), record.number("process_id"),
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
} // namespace settings_app_test
