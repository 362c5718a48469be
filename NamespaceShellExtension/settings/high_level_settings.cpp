#include "settings/high_level_settings.h"

#include "base/log.h"
#include "base/process_object.h"

namespace high_level_settings
{
namespace
{
constexpr char app_id_sortwell[] = "sortwell";
} // namespace

settings_file::settings_file(HMODULE module, std::wstring sub_folder, std::wstring stem)
    : common_settings_file(module, std::move(sub_folder), std::move(stem))
{
}

bool settings_file::read()
{
    try
    {
        common::setting_utilities::settings_file_stream text(full_path());
        auto contents = read_contents(text);
        if (!contents)
            return true;
        std::lock_guard lock(mutex_);
        if (contents->version)
            version_ = std::move(*contents->version);
        if (contents->apps)
            apps_.swap(*contents->apps);
        return true;
    }
    catch (...)
    {
        return false;
    }
}

bool settings_file::is_app_enabled()
{
    if (!load(false))
    {
        log_message(log_level::error, L"Failed to load from high level settings file {}", full_path());
        return false;
    }
    std::lock_guard lock(mutex_);
    const auto it = apps_.find(app_id_sortwell);
    return it == apps_.end() || it->second.status != "disabled";
}

bool settings_file::get_bool_setting(const std::string& app_id, const std::string& key) const
{
    std::lock_guard lock(mutex_);
    const auto app = apps_.find(app_id);
    if (app == apps_.end())
        return true;
    const auto value = app->second.settings.find(key);
    if (value == app->second.settings.end())
        return true;
    const bool* flag = std::get_if<bool>(&value->second);
    return flag ? *flag : true;
}

std::string settings_file::version() const
{
    std::lock_guard lock(mutex_);
    return version_;
}

std::map<std::string, app_record> settings_file::apps() const
{
    std::lock_guard lock(mutex_);
    return apps_;
}

settings_file& get_high_level_settings()
{
    // A function-local static is initialised once, thread-safely; a throwing constructor leaves it
    // uninitialised so the next call tries again.
    static process_object<settings_file> settings(GetModuleHandleW(nullptr), L"Settings", L"High Level Settings");
    return settings.get();
}
} // namespace high_level_settings
