#pragma once
// Reads back what the stand-ins write of their starts (start_record_writer.h), for the tests. A
// record_file points a stand-in at a fresh record file in the temporary folder for its lifetime, through
// the stand-in's environment variable, which the programs a test starts inherit; it reads that file and
// the one beside the stand-in, where a start by a process without the test's environment (Explorer's
// desktop) records.

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace start_record
{
struct record
{
    // The record's string members as their UTF-8 bytes, and its unsigned number members.
    std::map<std::string, std::string> texts;
    std::map<std::string, std::uint32_t> numbers;
    // False when the record came from the file beside the stand-in.
    bool inherited_environment = true;

    // A string member; none when it is absent or no string.
    std::optional<std::string> text(const char* name) const;
    // A string member in UTF-16; empty when it is absent or no string.
    std::wstring wide_text(const char* name) const;
    // An unsigned number member; 0 when it is absent or no such number.
    std::uint32_t number(const char* name) const;
};

class record_file
{
public:
    // Sets %<environment_variable>% to "<file_prefix><process id>.jsonl" in the temporary folder;
    // `fallback_file` is the file beside the stand-in. Both files are removed now and when this goes.
    record_file(const wchar_t* environment_variable, std::wstring_view file_prefix, std::filesystem::path fallback_file);
    ~record_file();
    record_file(const record_file&) = delete;
    record_file& operator=(const record_file&) = delete;

    // The records of both files, those of the test's own file first, each in file order. Lines that
    // are no JSON object are passed over.
    std::vector<record> read() const;

private:
    void clear() const;

    std::wstring environment_variable_;
    std::filesystem::path file_;
    std::filesystem::path fallback_file_;
};
} // namespace start_record
