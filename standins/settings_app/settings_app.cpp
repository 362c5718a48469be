// The Settings app stand-in. For every start it appends one line of compact JSON to its record file:
//   {"command_line": <its whole command line>, "arguments": <the text after the program>,
//    "working_directory": <its current directory>, "process_id": <its process id>}
// The record file is %VELMORA_SETTINGS_APP_RECORD% when that is set, otherwise "Velmora.records.jsonl"
// beside the executable (a start handed to Explorer's own process does not carry the caller's
// environment). It then ends at once; the process id lets a test wait for that.

#include "start_record/start_record_writer.h"

#include <windows.h>

#include <string>

namespace
{
std::wstring current_directory()
{
    std::wstring directory(GetCurrentDirectoryW(0, nullptr), L'\0');
    directory.resize(GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), directory.data()));
    return directory;
}
} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const std::wstring command_line = GetCommandLineW();
    start_record::record_writer record;
    record.text("command_line", command_line);
    record.text("arguments", start_record::arguments_of(command_line));
    record.text("working_directory", current_directory());
    record.number("process_id", GetCurrentProcessId());
    start_record::append_record(start_record::record_file_path(L"VELMORA_SETTINGS_APP_RECORD", L"Velmora.records.jsonl"),
                                record.line());
    return 0;
}
