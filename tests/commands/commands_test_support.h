#pragma once
// What the commands tests observe: the starts that the batch worker stand-in (beside the test
// executable) records, and stand-ins for the two shell routes of launch_via_shell for what Wine cannot
// produce, a shell that refuses both ways.

#include "commands/shell_launch.h"
#include "base/log.h"
#include "settings_app_recorder.h"
#include "start_record/start_record_reader.h"
#include "support/child_process.h"
#include "support/test_files.h"

#include <objbase.h>
#include <rapidjson/document.h>

#include <chrono>
#include <functional>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

namespace commands_test
{
inline std::filesystem::path batch_worker_path()
{
    return test_support::executable_folder() / L"Sortwell.Common.BatchProcessor.exe";
}

// The batch worker stand-in's starts; one without our environment records in `worker_folder`.
struct batch_worker_recorder : settings_app_test::start_recorder
{
    explicit batch_worker_recorder(const std::filesystem::path& worker_folder = batch_worker_path().parent_path())
        : start_recorder(L"VELMORA_BATCH_WORKER_RECORD", L"velmora-test-batch-worker-",
                         worker_folder / L"Sortwell.Common.BatchProcessor.records.jsonl")
    {
    }
};

// The text of the error `run` raises, empty when it raises none.
template <class Error>
std::string error_of(const std::function<void()>& run)
{
    try
    {
        run();
    }
    catch (const Error& e)
    {
        return e.what();
    }
    return {};
}

// Sets environment variables while it lives; each gets its earlier value, or none, back afterwards.
class environment_override
{
public:
    environment_override(std::initializer_list<std::pair<const wchar_t*, std::wstring>> variables)
    {
        for (const auto& [name, value] : variables)
            saved_.emplace_back(name, test_support::environment_value(name)), SetEnvironmentVariableW(name, value.c_str());
    }
    ~environment_override()
    {
        for (const auto& [name, value] : saved_)
            SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
    }

private:
    std::vector<std::pair<std::wstring, std::wstring>> saved_;
};

// Points GetTempPathW, and so the job files, at `folder` while it lives.
struct temp_folder_override : environment_override
{
    explicit temp_folder_override(const std::filesystem::path& folder)
        : environment_override{{L"TMP", folder.wstring()}, {L"TEMP", folder.wstring()}}
    {
    }
};

struct shell_route_call
{
    std::wstring file;
    std::wstring parameters;
    APTTYPE apartment = APTTYPE_CURRENT;
    HRESULT apartment_result = S_OK; // CO_E_NOTINITIALIZED on a thread without COM
};

// Routes launch_via_shell to fakes that record their calls and answer as told, for its lifetime.
class shell_routes_override
{
public:
    shell_routes_override() : previous_(shell_launch_detail::replace_shell_routes({&first, &second}))
    {
        first_calls.clear(), second_calls.clear();
        first_answer = second_answer = E_ACCESSDENIED;
    }
    ~shell_routes_override() { shell_launch_detail::replace_shell_routes(previous_); }
    // The second route is the real desktop-view route instead of a fake.
    void use_real_second_route()
    {
        shell_launch_detail::replace_shell_routes({&first, &shell_launch_detail::execute_through_desktop_view});
    }

    static inline std::vector<shell_route_call> first_calls, second_calls;
    static inline HRESULT first_answer, second_answer;

private:
    static HRESULT record(std::vector<shell_route_call>& calls, HRESULT answer, const std::wstring& file,
                          const std::wstring& parameters)
    {
        APTTYPEQUALIFIER qualifier{};
        calls.push_back({file, parameters});
        calls.back().apartment_result = CoGetApartmentType(&calls.back().apartment, &qualifier);
        return answer;
    }
    static HRESULT first(const std::wstring& file, const std::wstring& parameters)
    {
        return record(first_calls, first_answer, file, parameters);
    }
    static HRESULT second(const std::wstring& file, const std::wstring& parameters)
    {
        return record(second_calls, second_answer, file, parameters);
    }
    shell_launch_detail::shell_routes previous_;
};
} // namespace commands_test
