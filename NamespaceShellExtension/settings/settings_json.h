#pragma once
// Members of the configuration files as the records hold them, and the indented output that the files
// are written back in. A member that is missing or of another type counts as absent.

#include "common/setting_utilities/common_settings_file.h"
#include "common/setting_utilities/json_document.h"

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace settings_json
{
// UTF-8 to UTF-16 without a round trip through the system: the configuration files hold thousands of
// short strings, and the load of a large namespace file is dominated by their conversion otherwise.
// A byte that does not start a well-formed sequence becomes U+FFFD.
std::wstring widen(std::string_view text);
std::string narrow(std::wstring_view text);

// The member's string (embedded NULs kept), or nothing when it is missing or not a string.
std::optional<std::wstring> wide_member(const common::setting_utilities::json_value& object, const char* name);
// A JSON number that is an integer and fits 32 signed bits; 2.0, 1e2 and 2147483648 do not.
std::optional<std::int32_t> int32_member(const common::setting_utilities::json_value& object, const char* name);
std::optional<bool> bool_member(const common::setting_utilities::json_value& object, const char* name);

// The elements of an array member made records by read_element; a member that is missing or not an
// array leaves `list` as it was.
template <class Record, class ReadElement>
void read_list(const common::setting_utilities::json_value& object, const char* name, std::optional<std::vector<Record>>& list,
               ReadElement read_element)
{
    const auto* array = common::setting_utilities::find_member(object, name);
    if (!array || !array->IsArray())
        return;
    std::vector<Record> records;
    records.reserve(array->Size());
    for (const auto& element : array->GetArray())
        records.push_back(read_element(element));
    list = std::move(records);
}

// The decimal reading of a text as the C library's atoi does it: leading white space, one sign, the
// digits up to the first other character; no digits give 0. Values beyond 32 bits saturate.
std::int32_t decimal_prefix(std::string_view text);

// Four spaces per level, ": " after member names, [] and {} for empty containers, no final line feed.
using indented_writer = common::setting_utilities::json_pretty_writer;

void write_string(indented_writer& writer, std::wstring_view text);
void write_member(indented_writer& writer, const char* name, std::wstring_view text);
// Nothing when the value is absent.
void write_optional_member(indented_writer& writer, const char* name, const std::optional<std::wstring>& text);
void write_optional_member(indented_writer& writer, const char* name, const std::optional<std::int32_t>& number);
void write_optional_member(indented_writer& writer, const char* name, const std::optional<bool>& value);

// The `write` of a settings file that the DLL edits: the text that make_text gives replaces the file's
// contents. Only an exception (exhausted memory) answers false; a file that cannot be written is logged
// and still answers true.
template <class MakeText>
bool write_settings_text(const std::wstring& path, MakeText make_text) noexcept
{
    try
    {
        common::setting_utilities::replace_file_contents(path, make_text());
        return true;
    }
    catch (...)
    {
        return false;
    }
}
} // namespace settings_json
