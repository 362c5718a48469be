#include "common/setting_utilities/common_settings_file.h"

#include "common/setting_utilities/settings_file_stream.h"
#include "diagnostics/known_folders.h"
#include "diagnostics/log.h"

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
} // namespace

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

void common_settings_file::read_document(json_document& document) const
{
    // Straight from the stream: Document::Parse(text, length) would silently drop a leading byte-order
    // mark, and a settings file that starts with one must not parse.
    settings_file_stream stream(full_path_);
    document.ParseStream<rapidjson::kParseIterativeFlag, rapidjson::UTF8<>>(stream);
    if (document.HasParseError() || stream.held_nul())
        document.SetNull();
}
} // namespace common::setting_utilities
