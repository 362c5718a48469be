#pragma once
// Reading what the batch worker stand-in recorded: one JSON line per start, in the record file that the
// tests point it at through VELMORA_BATCH_WORKER_RECORD, or, for a worker started by another process
// (Explorer's desktop, which does not have our environment), in the stand-in's own folder.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace test_support
{
struct batch_worker_record
{
    std::wstring command_line;
    std::wstring arguments;
    std::optional<std::string> job_file;
    // False when the worker was started from a process without our environment.
    bool inherited_environment = true;
};

// Points the stand-in at a fresh record file for the lifetime of the object (the environment variable
// is inherited by the interpreter and the worker it starts).
class batch_worker_recorder
{
public:
    batch_worker_recorder();
    ~batch_worker_recorder();
    batch_worker_recorder(const batch_worker_recorder&) = delete;
    batch_worker_recorder& operator=(const batch_worker_recorder&) = delete;

    std::vector<batch_worker_record> records() const;
    // Waits until a start whose arguments equal `arguments` has been recorded.
    std::optional<batch_worker_record> wait_for(const std::wstring& arguments,
                                                std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
    // Waits until `count` starts have been recorded; answers what is there then.
    std::vector<batch_worker_record> wait_for_count(std::size_t count,
                                                    std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;

private:
    std::filesystem::path file_;
    std::filesystem::path fallback_file_;
};

// The stand-in's path: beside the test executable, where the DLL's own folder would hold the worker.
std::filesystem::path batch_worker_path();
} // namespace test_support
