#include "support/test_files.h"

#include "diagnostics/known_folders.h"
#include "diagnostics/log.h"

#include <algorithm>
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
    wchar_t buffer[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(std::size(buffer)));
    return std::filesystem::path(buffer).parent_path();
}

scratch_folder::scratch_folder(const std::wstring& name)
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    path_ = std::filesystem::path(temp) / (L"velmora-test-" + name + L"-" + std::to_wstring(GetCurrentProcessId()));
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
    std::ofstream stream(file, std::ios::binary | std::ios::trunc);
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void touch_file(const std::filesystem::path& file, int offset_seconds)
{
    HANDLE handle = CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER value{};
    value.LowPart = now.dwLowDateTime;
    value.HighPart = now.dwHighDateTime;
    value.QuadPart += static_cast<long long>(offset_seconds) * 10'000'000LL;
    now.dwLowDateTime = value.LowPart;
    now.dwHighDateTime = value.HighPart;
    SetFileTime(handle, nullptr, nullptr, &now);
    CloseHandle(handle);
}

log_capture::log_capture() : file_(process_logger()->file_path())
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
    if (text.size() <= start_)
        return result;
    std::istringstream stream(text.substr(static_cast<size_t>(start_)));
    for (std::string line; std::getline(stream, line);)
        result.push_back(line);
    return result;
}

std::vector<std::string> log_capture::messages() const
{
    return messages_from(0);
}

std::vector<std::string> log_capture::messages_from(DWORD process_id) const
{
    const std::string process = "[P:" + std::to_string(process_id) + " ";
    std::vector<std::string> result;
    for (const auto& line : lines())
    {
        if (process_id != 0 && line.find(process) == std::string::npos)
            continue;
        // "[date time] [P:1 T:2] [LEVEL] message"
        const auto level_start = line.find("] [", line.find("] [P:") + 1);
        if (level_start == std::string::npos)
            continue;
        const auto level_end = line.find("] ", level_start + 3);
        if (level_end == std::string::npos)
            continue;
        result.push_back(line.substr(level_start + 3, level_end - level_start - 3) + " " + line.substr(level_end + 2));
    }
    return result;
}

bool log_capture::contains(const std::string& level_and_message) const
{
    const auto all = messages();
    return std::find(all.begin(), all.end(), level_and_message) != all.end();
}
} // namespace test_support
