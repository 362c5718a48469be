#include "settings/high_level_settings.h"

#include "common/setting_utilities/json_document.h"
#include "diagnostics/log.h"

#include <limits>
#include <memory>

namespace high_level_settings
{
namespace
{
using common::setting_utilities::find_string;

constexpr char app_id_sortwell[] = "sortwell";

bool to_setting_value(const common::setting_utilities::json_value& value, setting_value& out)
{
    if (value.IsBool())
        out = value.GetBool();
    else if (value.IsInt())
        out = static_cast<std::int32_t>(value.GetInt());
    else if (value.IsString())
        out = std::string(value.GetString(), value.GetStringLength());
    else if (value.IsArray())
    {
        std::vector<std::string> list;
        for (const auto& element : value.GetArray())
            if (element.IsString())
                list.emplace_back(element.GetString(), element.GetStringLength());
        out = std::move(list);
    }
    else
        return false;
    return true;
}

void read_settings(const common::setting_utilities::json_value& settings, std::map<std::string, setting_value>& out)
{
    if (!settings.IsObject())
        return;
    for (const auto& member : settings.GetObject())
    {
        const std::string name(member.name.GetString(), member.name.GetStringLength());
        if (member.value.IsObject())
        {
            for (const auto& inner : member.value.GetObject())
            {
                setting_value value;
                if (to_setting_value(inner.value, value))
                    out.emplace(name + "." + std::string(inner.name.GetString(), inner.name.GetStringLength()),
                                std::move(value));
            }
            continue;
        }
        setting_value value;
        if (to_setting_value(member.value, value))
            out.emplace(name, std::move(value));
    }
}
} // namespace

settings_file::settings_file(HMODULE module, std::wstring sub_folder, std::wstring stem)
    : common_settings_file(module, std::move(sub_folder), std::move(stem))
{
}

bool settings_file::read()
{
    try
    {
        common::setting_utilities::json_document document;
        read_document(document);
        if (!document.IsObject())
            return true;
        if (const char* version = find_string(document, "version"))
        {
            std::lock_guard lock(mutex_);
            version_ = version;
        }
        const auto* apps = common::setting_utilities::find_member(document, "apps");
        if (!apps || !apps->IsArray())
            return true;

        std::map<std::string, app_record> records;
        for (const auto& element : apps->GetArray())
        {
            if (!element.IsObject())
                continue;
            app_record record;
            if (const char* text = find_string(element, "app_id"))
                record.app_id = text;
            if (const char* text = find_string(element, "name"))
                record.name = text;
            if (const char* text = find_string(element, "version"))
                record.version = text;
            if (const char* text = find_string(element, "status"))
                record.status = text;
            if (const auto* settings = common::setting_utilities::find_member(element, "settings"))
                read_settings(*settings, record.settings);
            if (!record.app_id.empty())
                records.try_emplace(record.app_id, std::move(record));
        }
        {
            std::lock_guard lock(mutex_);
            apps_.swap(records);
        }
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
    static settings_file settings(GetModuleHandleW(nullptr), L"Settings", L"High Level Settings");
    return settings;
}
} // namespace high_level_settings
