#pragma once
// Files the tests seed and inspect: the per-user settings folder, the log, scratch folders.

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

namespace test_support
{
// %LOCALAPPDATA%\Quenbrook\Velmora\Settings
std::filesystem::path settings_folder();
// The folder of the running test executable.
std::filesystem::path executable_folder();

// A fresh empty folder under %TEMP%, removed by the destructor.
class scratch_folder
{
public:
    explicit scratch_folder(const std::wstring& name);
    ~scratch_folder();
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& file);
void write_file(const std::filesystem::path& file, const std::string& bytes);
// Sets the last-write time to now plus offset seconds, so that a rewrite is seen as a change even when
// the file system's clock granularity would hide it.
void touch_file(const std::filesystem::path& file, int offset_seconds);

// The lines that the log receives from the moment of construction on (from every process).
class log_capture
{
public:
    log_capture();
    std::vector<std::string> lines() const;
    // Each line as "LEVEL message", without the "[time] [P:.. T:..] [LEVEL] " prefix; only the lines of
    // the process with this id when it is not 0.
    std::vector<std::string> messages_from(DWORD process_id) const;
    std::vector<std::string> messages() const { return messages_from(0); }

private:
    std::filesystem::path file_;
    std::uintmax_t start_ = 0;
};
} // namespace test_support
