#include "batch_worker_records.h"

#include "diagnostics/log.h"
#include "support/test_files.h"

#include <windows.h>

#include <rapidjson/document.h>

#include <sstream>
#include <thread>

namespace test_support
{
batch_worker_recorder::batch_worker_recorder()
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    file_ = std::filesystem::path(temp) /
            (L"velmora-test-batch-worker-" + std::to_wstring(GetCurrentProcessId()) + L".jsonl");
    fallback_file_ = batch_worker_path().parent_path() / L"Sortwell.Common.BatchProcessor.records.jsonl";
    std::error_code ec;
    std::filesystem::remove(file_, ec);
    std::filesystem::remove(fallback_file_, ec);
    SetEnvironmentVariableW(L"VELMORA_BATCH_WORKER_RECORD", file_.c_str());
}

batch_worker_recorder::~batch_worker_recorder()
{
    SetEnvironmentVariableW(L"VELMORA_BATCH_WORKER_RECORD", nullptr);
    std::error_code ec;
    std::filesystem::remove(file_, ec);
    std::filesystem::remove(fallback_file_, ec);
}

std::vector<batch_worker_record> batch_worker_recorder::records() const
{
    std::vector<batch_worker_record> result;
    for (const bool inherited : {true, false})
    {
        std::istringstream lines(read_file(inherited ? file_ : fallback_file_));
        for (std::string line; std::getline(lines, line);)
        {
            rapidjson::Document document;
            document.Parse(line.data(), line.size());
            if (document.HasParseError() || !document.IsObject())
                continue;
            batch_worker_record record;
            if (document.HasMember("command_line") && document["command_line"].IsString())
                record.command_line = from_utf8(document["command_line"].GetString());
            if (document.HasMember("arguments") && document["arguments"].IsString())
                record.arguments = from_utf8(document["arguments"].GetString());
            if (document.HasMember("job_file") && document["job_file"].IsString())
                record.job_file = std::string(document["job_file"].GetString(), document["job_file"].GetStringLength());
            record.inherited_environment = inherited;
            result.push_back(std::move(record));
        }
    }
    return result;
}

std::optional<batch_worker_record> batch_worker_recorder::wait_for(const std::wstring& arguments,
                                                                   std::chrono::milliseconds timeout) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;)
    {
        for (auto& record : records())
            if (record.arguments == arguments)
                return record;
        if (std::chrono::steady_clock::now() > deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::vector<batch_worker_record> batch_worker_recorder::wait_for_count(std::size_t count,
                                                                       std::chrono::milliseconds timeout) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;)
    {
        auto all = records();
        if (all.size() >= count || std::chrono::steady_clock::now() > deadline)
            return all;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::filesystem::path batch_worker_path()
{
    return executable_folder() / L"Sortwell.Common.BatchProcessor.exe";
}
} // namespace test_support
