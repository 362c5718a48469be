#pragma once
// The user's tags, "All Tags.json", kept by the suite's Settings app and its tagging window. The
// namespace replaces "$tags[" references with them and hides searches that refer past the end of the
// list; `write` gives the file back in the same layout.

#include "common/setting_utilities/common_settings_file.h"
#include "common/setting_utilities/settings_file_stream.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace all_tags_settings
{
struct tag_record
{
    std::wstring name{};
    // Stored in the file as a string of decimal digits, not as a number.
    std::optional<std::int32_t> order{};
    std::optional<std::wstring> icon_not_tagged{};
    std::optional<std::wstring> icon_when_tagged{};
    std::optional<std::wstring> keyboard{};

    bool operator==(const tag_record&) const = default;
};

// What the text of a tags file says, as `read` takes it over; each member absent when the file has none
// of the right type.
struct file_contents
{
    std::optional<std::wstring> version{};
    std::optional<std::int32_t> window_height{};
    std::optional<std::int32_t> window_width{};
    std::optional<std::vector<tag_record>> tags{};

    bool operator==(const file_contents&) const = default;
};

// The text parsed as a document and its members read (settings_contents.cpp). Nothing when it does not
// parse or its root is not an object. Raises std::bad_alloc when memory runs out.
std::optional<file_contents> read_contents(common::setting_utilities::settings_file_stream& text);

class settings_file final : public common::setting_utilities::common_settings_file
{
public:
    explicit settings_file(HMODULE module);
    ~settings_file() = default;

    // False when the file does not parse or its root is not an object (so `load` fails, unlike the
    // namespace file), or when an exception interrupts it; the contents then stay as they were.
    bool read() override;
    bool write() override;

    const std::wstring& version() const noexcept { return version_; }
    void set_version(std::wstring version) { version_ = std::move(version); }
    // The tagging window's size, only kept so that `write` gives it back.
    std::int32_t window_height() const noexcept { return window_height_; }
    std::int32_t window_width() const noexcept { return window_width_; }
    void set_window_size(std::int32_t height, std::int32_t width) noexcept
    {
        window_height_ = height;
        window_width_ = width;
    }
    // A tag's position is its index in the references ("$tags[0]" is the first).
    const std::vector<tag_record>& tags() const noexcept { return tags_; }
    std::vector<tag_record>& tags() noexcept { return tags_; }

    std::string to_json() const;

private:
    std::wstring version_;
    std::int32_t window_height_ = 0;
    std::int32_t window_width_ = 0;
    std::vector<tag_record> tags_;
};
} // namespace all_tags_settings
