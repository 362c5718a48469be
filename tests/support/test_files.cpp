#include "support/test_files.h"

#include "support/child_process.h"

#include "base/known_folders.h"
#include "base/log.h"

#include <fstream>
#include <sstream>
#include <system_error>

namespace test_support
{
std::filesystem::path settings_folder()
{
    return suite_data_folder() / L"Settings";
}

std::filesystem::path executable_folder()
{
    return executable_path().parent_path();
}

scratch_folder::scratch_folder(const std::wstring& name)
{
    path_ = std::filesystem::temp_directory_path() /
            (L"velmora-test-" + name + L"-" + std::to_wstring(GetCurrentProcessId()));
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
    std::filesystem::create_directories(path_);
}

scratch_folder::~scratch_folder()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string read_file(const std::filesystem::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

void write_file(const std::filesystem::path& file, const std::string& bytes)
{
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

void touch_file(const std::filesystem::path& file, int offset_seconds)
{
    const unique_hfile handle(CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const auto ticks = ((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) +
                       static_cast<std::int64_t>(offset_seconds) * 10'000'000;
    now = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SetFileTime(handle.get(), nullptr, nullptr, &now);
}

log_capture::log_capture() : file_(process_logger().file_path())
{
    std::error_code ec;
    start_ = std::filesystem::file_size(file_, ec);
    if (ec)
        start_ = 0;
}

std::vector<std::string> log_capture::lines() const
{
    const std::string text = read_file(file_);
    std::vector<std::string> result;
    std::istringstream stream(text.size() > start_ ? text.substr(static_cast<size_t>(start_)) : std::string());
    for (std::string line; std::getline(stream, line);)
        result.push_back(line);
    return result;
}

std::vector<std::string> log_capture::messages_from(DWORD process_id) const
{
    const std::string process = "[P:" + std::to_string(process_id) + " ";
    std::vector<std::string> result;
    for (const auto& line : lines())
    {
        // "[date time] [P:1 T:2] [LEVEL] message"
        const auto level_start = line.find("] [", line.find("] [P:") + 1);
        const auto level_end = line.find("] ", level_start + 3);
        if ((process_id == 0 || line.find(process) != std::string::npos) && level_start != std::string::npos &&
            level_end != std::string::npos)
            result.push_back(line.substr(level_start + 3, level_end - level_start - 3) + " " + line.substr(level_end + 2));
    }
    return result;
}
} // namespace test_support
