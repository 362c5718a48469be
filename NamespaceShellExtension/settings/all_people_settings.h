#pragma once
// The people known to the suite's face recognition, "All People.json". Read only: the Settings app owns
// it. The namespace replaces "$people[" references with them.

#include "common/setting_utilities/common_settings_file.h"
#include "common/setting_utilities/settings_file_stream.h"

#include <optional>
#include <string>
#include <vector>

namespace all_people_settings
{
struct person_record
{
    std::wstring name{};
    std::optional<std::wstring> main_photo{};

    bool operator==(const person_record&) const = default;
};

// What the text of a people file says, as `read` takes it over; each member absent when the file has
// none of the right type.
struct file_contents
{
    std::optional<std::wstring> version{};
    std::optional<std::vector<person_record>> people{};

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

    // False when the file does not parse or its root is not an object, or when an exception interrupts
    // it; the contents then stay as they were.
    bool read() override;
    // Never writes: answers false and leaves the file alone.
    bool write() override { return false; }

    const std::wstring& version() const noexcept { return version_; }
    // A person's position is its index in the references ("$people[0]" is the first).
    const std::vector<person_record>& people() const noexcept { return people_; }
    std::vector<person_record>& people() noexcept { return people_; }

private:
    std::wstring version_;
    std::vector<person_record> people_;
};
} // namespace all_people_settings
