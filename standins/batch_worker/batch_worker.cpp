// The batch worker stand-in. For every start it appends one line of compact JSON to its record file:
//   {"command_line": <its whole command line>, "arguments": <the text after the program>,
//    "job_file": <the bytes of the file the arguments name, or null when there is none>}
// The record file is %VELMORA_BATCH_WORKER_RECORD% when that is set, otherwise
// "Sortwell.Common.BatchProcessor.records.jsonl" beside the executable (a start handed to Explorer's own
// process does not carry the caller's environment). The job file is left where it is.

#include "start_record/start_record_writer.h"

#include <windows.h>

#include <optional>
#include <string>

namespace
{
std::optional<std::string> read_file(const std::wstring& path)
{
    if (path.empty())
        return std::nullopt;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}
} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const std::wstring command_line = GetCommandLineW();
    const std::wstring arguments = start_record::arguments_of(command_line);
    const auto job_file = read_file(arguments);

    start_record::record_writer record;
    record.text("command_line", command_line);
    record.text("arguments", arguments);
    if (job_file)
        record.bytes("job_file", *job_file);
    else
        record.null("job_file");
    start_record::append_record(
        start_record::record_file_path(L"VELMORA_BATCH_WORKER_RECORD", L"Sortwell.Common.BatchProcessor.records.jsonl"),
        record.line());
    return 0;
}
