#pragma once
// What a stand-in writes of its own start: one line of compact JSON per start, appended to its record
// file. The record file is the path in an environment variable when that is set, otherwise a file of a
// fixed name beside the executable (a start handed to Explorer's own process does not carry the
// caller's environment). start_record_reader.h reads the records back.
//
//   start_record::record_writer record;
//   record.text("command_line", command_line);
//   start_record::append_record(start_record::record_file_path(L"VARIABLE", L"name.jsonl"), record.line());

#include <windows.h>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace start_record
{
// UTF-16 to UTF-8 through the system's conversion.
std::string to_utf8(std::wstring_view text);

// The command line after the program name and the blanks that follow it, as the C runtime splits off
// argv[0]: a quoted name ends at the next quotation mark, a plain one at the first blank.
std::wstring arguments_of(const std::wstring& command_line);

// %<environment_variable>% when that is set, otherwise `fallback_name` beside the executable.
std::wstring record_file_path(const wchar_t* environment_variable, const wchar_t* fallback_name);

// Appends `line` in one write (several starts may record at once), trying for about a second while the
// file cannot be opened.
void append_record(const std::wstring& record_file, const std::string& line);

// One record: a JSON object whose members come in the order they are added.
class record_writer
{
public:
    record_writer() { writer_.StartObject(); }

    // A text member, from UTF-16 or as the bytes given.
    void text(const char* name, std::wstring_view value);
    void bytes(const char* name, std::string_view value);
    void null(const char* name);
    void number(const char* name, std::uint32_t value);

    // The finished record and its line feed.
    std::string line();

private:
    rapidjson::StringBuffer buffer_;
    rapidjson::Writer<rapidjson::StringBuffer> writer_{buffer_};
};
} // namespace start_record
