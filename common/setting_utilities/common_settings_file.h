#pragma once
// The base of every settings file: where it lives, seeding a missing file from the default copy
// shipped beside the module, and re-reading only when the file's last-write time changed.

#include <windows.h>

#include "common/setting_utilities/json_document.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

namespace common::setting_utilities
{
class common_settings_file
{
public:
    // Creates the folder %LOCALAPPDATA%\Quenbrook\Velmora\<sub_folder>\ when missing; a failure raises
    // std::filesystem::filesystem_error.
    common_settings_file(HMODULE module, std::wstring sub_folder, std::wstring stem);

    // Brings the contents up to date with the file. Answers false when the file could not be seeded or
    // read; a file that does not parse still counts as read.
    virtual bool load(bool force);
    virtual bool read() = 0;
    virtual bool write() = 0;

    const std::wstring& full_path() const noexcept { return full_path_; }
    const std::wstring& file_name() const noexcept { return file_name_; }
    const std::wstring& folder() const noexcept { return folder_; }

protected:
    ~common_settings_file() = default;
    common_settings_file(const common_settings_file&) = delete;
    common_settings_file& operator=(const common_settings_file&) = delete;

    // The file's text (see settings_file_stream) parsed as strict JSON: one root value, no comments, no
    // trailing commas. Parsing is iterative, so deep nesting cannot exhaust the stack. Null when the
    // file is missing, unreadable or malformed.
    void read_document(json_document& document) const;

private:
    bool seed_from_default();

    std::wstring sub_folder_;
    std::wstring stem_;
    std::wstring full_path_;
    std::wstring file_name_;
    std::wstring folder_;
    HMODULE module_;
    std::atomic<std::uint64_t> last_write_time_{0};
};

// "Content\Configurations" beside the module file; computed by the first caller, shared afterwards.
std::filesystem::path defaults_folder(HMODULE module);

// Copies `source` to `target` unless `target` exists. The copy is made beside the target and renamed
// into place without replacing, so the target appears whole or not at all. Answers false when the
// target was already there (another process got there first); raises std::filesystem::filesystem_error
// when the copy fails otherwise. Leaves no temporary file behind.
bool copy_if_absent(const std::filesystem::path& source, const std::filesystem::path& target);

// Last-write time of a file as FILETIME ticks, 0 when its attributes cannot be read.
std::uint64_t file_last_write_time(const std::wstring& path) noexcept;
} // namespace common::setting_utilities
