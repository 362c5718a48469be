#include "common/setting_utilities/common_settings_file.h"

#include "base/known_folders.h"
#include "base/log.h"
#include "base/raii.h"
#include "common/setting_utilities/json_document.h"
#include "common/setting_utilities/settings_file_stream.h"

#include <algorithm>
#include <cwctype>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace common::setting_utilities
{
namespace
{
std::uint64_t ticks(const FILETIME& time) noexcept
{
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

std::wstring module_file_name(HMODULE module)
{
    std::vector<wchar_t> buffer(260);
    DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == buffer.size() || GetLastError() == ERROR_INSUFFICIENT_BUFFER)
    {
        buffer.assign(65535, L'\0');
        length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    }
    return std::wstring(buffer.data(), length);
}

std::mutex defaults_mutex;
std::filesystem::path defaults_cache;

// Explorer asks for both roots from several threads on its first start, and several settings objects may
// stand for one file: the seeding of a file is one guarded block at a time in this process, so a thread
// that waited finds the file there and reads it.
std::mutex& seeding_lock(const std::wstring& path)
{
    static std::mutex table_mutex;
    static std::map<std::wstring, std::unique_ptr<std::mutex>> locks;
    std::wstring key = path;
    for (auto& c : key)
        c = static_cast<wchar_t>(std::towlower(c));
    std::lock_guard lock(table_mutex);
    auto& entry = locks[key];
    if (!entry)
        entry = std::make_unique<std::mutex>();
    return *entry;
}

bool exists(const std::wstring& path) noexcept
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class file_source final : public settings_file_stream::byte_source
{
public:
    explicit file_source(unique_hfile file) noexcept : file_(std::move(file)) {}
    std::size_t read(char* into, std::size_t size) noexcept override
    {
        DWORD read = 0;
        if (!ReadFile(file_.get(), into, static_cast<DWORD>(std::min<std::size_t>(size, 0x7FFFFFFF)), &read, nullptr))
            return 0;
        return read;
    }

private:
    unique_hfile file_;
};
} // namespace

settings_file_stream::settings_file_stream(const std::wstring& path, std::size_t chunk_size)
{
    unique_hfile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0)
    {
        ended_ = true;
        return;
    }
    start(std::make_unique<file_source>(std::move(file)), static_cast<std::uint64_t>(size.QuadPart), chunk_size);
}

std::filesystem::path defaults_folder(HMODULE module)
{
    std::lock_guard lock(defaults_mutex);
    if (defaults_cache.empty())
        defaults_cache = std::filesystem::path(module_file_name(module)).parent_path() / L"Content" / L"Configurations";
    return defaults_cache;
}

bool copy_if_absent(const std::filesystem::path& source, const std::filesystem::path& target)
{
    auto temporary = target;
    temporary += L"." + std::to_wstring(GetCurrentProcessId()) + L"." + std::to_wstring(GetCurrentThreadId()) +
                 L".seeding";
    struct remove_on_exit
    {
        const std::filesystem::path& path;
        ~remove_on_exit()
        {
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
        }
    } cleanup{temporary};

    std::filesystem::copy_file(source, temporary, std::filesystem::copy_options::overwrite_existing);
    // Renaming within one folder without replacing is atomic: a reader in another process sees the whole
    // file or none, and of two processes seeding at once exactly one wins.
    if (MoveFileExW(temporary.c_str(), target.c_str(), 0))
        return true;
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
        return false;
    throw std::filesystem::filesystem_error("cannot copy file", source, target,
                                            std::error_code(static_cast<int>(error), std::system_category()));
}

std::uint64_t file_last_write_time(const std::wstring& path) noexcept
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return ticks(data.ftLastWriteTime);
}

common_settings_file::common_settings_file(HMODULE module, std::wstring sub_folder, std::wstring stem)
    : sub_folder_(std::move(sub_folder)), stem_(std::move(stem)), module_(module)
{
    file_name_ = stem_ + L".json";
    const auto folder = suite_data_folder() / sub_folder_;
    folder_ = folder.wstring() + L"\\";
    full_path_ = (folder / file_name_).wstring();
    if (!std::filesystem::exists(folder))
        std::filesystem::create_directories(folder);
}

bool common_settings_file::load(bool force)
{
    if (!force)
    {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (GetFileAttributesExW(full_path_.c_str(), GetFileExInfoStandard, &data) &&
            ticks(data.ftLastWriteTime) == last_write_time_.load())
            return true;
    }
    if (GetFileAttributesW(full_path_.c_str()) == INVALID_FILE_ATTRIBUTES && !seed_from_default())
        return false;

    const std::uint64_t time = file_last_write_time(full_path_);
    if (!read())
        return false;
    last_write_time_ = time;
    return true;
}

bool common_settings_file::seed_from_default()
{
    try
    {
        std::lock_guard lock(seeding_lock(full_path_));
        if (exists(full_path_))
            return true;
        const auto source = defaults_folder(module_) / file_name_;
        if (copy_if_absent(source, full_path_))
        {
            log_message(log_level::info, L"Copied default settings from {} to {}", source.wstring(), full_path_);
            return true;
        }
        // Another process seeded the file first: it is there, whole, and is read like any other.
        if (exists(full_path_))
            return true;
        log_message(log_level::critical, L"Unable to copy default settings from {} to {}", source.wstring(),
                    full_path_);
        throw std::runtime_error("Unable to copy fallback settings file. See logs for details.");
    }
    catch (const std::exception& e)
    {
        try
        {
            log_message(log_level::critical, "Unable to copy settings file. Details {}", e.what());
        }
        catch (...)
        {
        }
        return false;
    }
}

void replace_file_contents(const std::wstring& path, std::string_view bytes)
{
    // OPEN_ALWAYS and SetEndOfFile rather than CREATE_ALWAYS: a hidden or system file would refuse
    // CREATE_ALWAYS with FILE_ATTRIBUTE_NORMAL, and the file keeps its attributes and security.
    unique_hfile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
    {
        log_message(log_level::error, L"Unable to open {} for writing, error {}", path, GetLastError());
        return;
    }
    size_t done = 0;
    while (done < bytes.size())
    {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) || written == 0)
        {
            log_message(log_level::error, L"Unable to write {}, error {}", path, GetLastError());
            return;
        }
        done += written;
    }
    if (!SetEndOfFile(file.get()))
        log_message(log_level::error, L"Unable to truncate {}, error {}", path, GetLastError());
}
} // namespace common::setting_utilities
