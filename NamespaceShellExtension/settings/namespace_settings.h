#pragma once
// The namespace configuration "Namespace.json": the organised folders that the "Sortwell" root shows and
// the saved searches and action targets inside them. The suite's Settings app writes it; the folder code
// reads it each time it needs it, and `write` gives it back in the same layout.

#include "common/setting_utilities/common_settings_file.h"
#include "common/setting_utilities/settings_file_stream.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace namespace_settings
{
// One saved search, or an action target when `target` is present. Texts may hold the "$tags[" and
// "$people[" references that the folder code replaces before use.
struct query_record
{
    std::wstring name{};
    std::optional<std::int32_t> order{};
    std::optional<std::wstring> hint{};
    std::wstring icon{};
    std::wstring query{};
    std::optional<std::wstring> action_type{};
    std::optional<std::wstring> action_parameters{};
    std::optional<bool> enabled{};
    std::optional<std::wstring> target{};

    bool operator==(const query_record&) const = default;
};

struct folder_record
{
    std::wstring name{};
    std::optional<std::int32_t> order{};
    std::optional<std::wstring> hint{};
    std::wstring icon{};
    std::optional<bool> enabled{};
    std::optional<std::wstring> default_view{};
    std::vector<query_record> queries{};

    bool operator==(const folder_record&) const = default;
};

// What the text of a namespace file says, as `read` takes it over: the version and the folders, each
// absent when the root has no such member of the right type.
struct file_contents
{
    std::optional<std::wstring> version{};
    std::optional<std::vector<folder_record>> folders{};

    bool operator==(const file_contents&) const = default;
};

// Reads the text in one pass, straight into the records (settings_contents.cpp). Nothing when it does
// not parse or its root is not an object. Raises std::bad_alloc when memory runs out.
std::optional<file_contents> read_contents(common::setting_utilities::settings_file_stream& text);

class settings_file final : public common::setting_utilities::common_settings_file
{
public:
    // The module whose folder holds "Content\Configurations" (this DLL's own: module_instance).
    explicit settings_file(HMODULE module);
    ~settings_file() = default;

    // A file that does not parse, or whose root is not an object, leaves the contents as they were and
    // still answers true; only an exception (exhausted memory) answers false.
    bool read() override;
    // Answers true also when the file cannot be opened (logged): callers that must know check the file.
    bool write() override;

    const std::wstring& version() const noexcept { return version_; }
    void set_version(std::wstring version) { version_ = std::move(version); }
    const std::vector<folder_record>& folders() const noexcept { return folders_; }
    std::vector<folder_record>& folders() noexcept { return folders_; }

    // The text that `write` puts in the file.
    std::string to_json() const;

private:
    std::wstring version_;
    std::vector<folder_record> folders_;
};
} // namespace namespace_settings
