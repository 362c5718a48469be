#pragma once
// The suite settings file "High Level Settings.json": which applications of the suite are enabled and
// their settings. Read only; the suite's Settings app writes it.

#include "common/setting_utilities/common_settings_file.h"
#include "common/setting_utilities/settings_file_stream.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace high_level_settings
{
using setting_value = std::variant<bool, std::int32_t, std::string, std::vector<std::string>>;

struct app_record
{
    std::string app_id;
    std::string name;
    std::string version;
    std::string status;
    // Dotted keys: a member "x" of the section "general" is stored as "general.x".
    std::map<std::string, setting_value> settings;

    bool operator==(const app_record&) const = default;
};

// What the text of the suite settings file says, as `read` takes it over: the version, absent when the
// root has no string "version", and the application records by id, absent when it has no array "apps".
struct file_contents
{
    std::optional<std::string> version{};
    std::optional<std::map<std::string, app_record>> apps{};

    bool operator==(const file_contents&) const = default;
};

// The text parsed as a document and its members read (settings_contents.cpp). Nothing when it does not
// parse or its root is not an object. Raises std::bad_alloc when memory runs out.
std::optional<file_contents> read_contents(common::setting_utilities::settings_file_stream& text);

class settings_file final : public common::setting_utilities::common_settings_file
{
public:
    settings_file(HMODULE module, std::wstring sub_folder, std::wstring stem);
    ~settings_file() = default;

    bool read() override;
    // The suite settings belong to the Settings app: never written here.
    bool write() override { return false; }

    // Loads the file when it changed; false when that fails (logged) or "sortwell" is "disabled".
    bool is_app_enabled();
    // The stored boolean, or true when the application, the key or a boolean value is missing.
    bool get_bool_setting(const std::string& app_id, const std::string& key) const;

    std::string version() const;
    std::map<std::string, app_record> apps() const;

private:
    mutable std::mutex mutex_;
    std::string version_;
    std::map<std::string, app_record> apps_;
};

// The process-wide suite settings, created on first call (host main module, "Settings",
// "High Level Settings"). Raises what the constructor raises; the next call tries again.
settings_file& get_high_level_settings();
} // namespace high_level_settings
