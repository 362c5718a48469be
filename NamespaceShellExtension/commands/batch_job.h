#pragma once
// Batch jobs: the extension never changes the user's files for an action such as rating or tagging.
// It writes the request as a JSON job file, velmora_<id>.json.tmp, into the user's temporary folder and
// starts the suite's batch worker beside this DLL, which does the work and owns the file from then on.

#include "commands/file_names.h"
#include "items/action_type.h"

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

inline constexpr wchar_t batch_worker_file_name[] = L"Sortwell.Common.BatchProcessor.exe";

// A new GUID in the form of guid_text (file_names.h). Raises std::runtime_error "Unable to create GUID"
// when CoCreateGuid fails.
std::string make_guid_text();

// One request as the caller builds it. A job whose file path has been made removes a file found there
// when it is destroyed, unless keep_job_file() was called first: a job abandoned half-way leaves
// nothing behind, a written one stays for the worker.
class batch_job
{
public:
    batch_job(std::vector<std::wstring> files, std::wstring action_type_text, std::wstring action_parameters);
    // Raises the std::filesystem::filesystem_error of "remove" when the file cannot be removed (but
    // never while another exception is unwinding the stack).
    ~batch_job() noexcept(false);
    batch_job(const batch_job&) = delete;
    batch_job& operator=(const batch_job&) = delete;

    const std::vector<std::wstring>& files() const noexcept { return files_; }
    const std::string& guid() const noexcept { return guid_; }
    const std::wstring& action_type_text() const noexcept { return action_type_text_; }
    const std::wstring& action_parameters() const noexcept { return action_parameters_; }

    // The temporary folder joined with "velmora_" + a new identifier + ".json.tmp", made on the first
    // call. Raises the filesystem_error of "temp_directory_path" when there is no temporary folder.
    const std::filesystem::path& make_job_file_path();
    bool job_file_path_made() const noexcept { return job_file_path_made_; }
    const std::filesystem::path& job_file_path() const noexcept { return job_file_path_; }

    // Clears the remove-on-destroy flag.
    void keep_job_file() noexcept { remove_on_destroy_ = false; }
    bool removes_on_destroy() const noexcept { return remove_on_destroy_; }

    // The job file's text: indented by four spaces, lines ending in a bare line feed, UTF-8.
    std::string to_json() const;

private:
    std::vector<std::wstring> files_;
    std::string guid_;
    std::wstring action_type_text_;
    std::wstring action_parameters_;
    std::filesystem::path job_file_path_;
    bool job_file_path_made_ = false;
    bool remove_on_destroy_ = true;
    int uncaught_at_creation_;
};

// Writes the job file for `files` and `action` and starts the worker found beside `module` with the
// file's path. Returns once the start is handed to the shell; never waits for the worker. Raises
// std::runtime_error or std::filesystem::filesystem_error; a job file already written stays.
void submit_batch_job(HMODULE module, const std::vector<std::wstring>& files, action_type action,
                      const std::wstring& action_parameters);
