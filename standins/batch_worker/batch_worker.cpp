// The batch worker stand-in. For every start it appends one line of compact JSON to its record file:
//   {"command_line": <its whole command line>, "arguments": <the text after the program>,
//    "job_file": <the bytes of the file the arguments name, or null when there is none>}
// The record file is %VELMORA_BATCH_WORKER_RECORD% when that is set, otherwise
// "Sortwell.Common.BatchProcessor.records.jsonl" beside the executable (a start handed to Explorer's own
// process does not carry the caller's environment). The job file is left where it is.

#include <windows.h>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <optional>
#include <string>

namespace
{
std::string to_utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr, nullptr);
    return result;
}

// The command line after the program name and the blanks that follow it, as the C runtime would split
// off argv[0]: a quoted name ends at the next quotation mark, a plain one at the first blank.
std::wstring arguments_of(const std::wstring& command_line)
{
    std::size_t position = 0;
    if (!command_line.empty() && command_line[0] == L'"')
    {
        position = command_line.find(L'"', 1);
        position = position == std::wstring::npos ? command_line.size() : position + 1;
    }
    else
    {
        while (position < command_line.size() && command_line[position] != L' ' && command_line[position] != L'\t')
            ++position;
    }
    while (position < command_line.size() && (command_line[position] == L' ' || command_line[position] == L'\t'))
        ++position;
    return command_line.substr(position);
}

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

std::wstring record_file_path()
{
    wchar_t configured[MAX_PATH * 4] = {};
    const DWORD length = GetEnvironmentVariableW(L"VELMORA_BATCH_WORKER_RECORD", configured,
                                                 static_cast<DWORD>(std::size(configured)));
    if (length > 0 && length < std::size(configured))
        return configured;
    wchar_t self[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, self, static_cast<DWORD>(std::size(self)));
    std::wstring folder = self;
    folder.resize(folder.find_last_of(L"\\/") + 1);
    return folder + L"Sortwell.Common.BatchProcessor.records.jsonl";
}

void append_record(const std::wstring& record_file, const std::string& line)
{
    // Several workers may start at once; each record goes out in one appending write.
    for (int attempt = 0; attempt < 50; ++attempt)
    {
        HANDLE file = CreateFileW(record_file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
        {
            DWORD written = 0;
            WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
            CloseHandle(file);
            return;
        }
        Sleep(20);
    }
}
} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const std::wstring command_line = GetCommandLineW();
    const std::wstring arguments = arguments_of(command_line);
    const auto job_file = read_file(arguments);

    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    const auto write_text = [&writer](const std::string& text) {
        writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
    };
    writer.StartObject();
    writer.Key("command_line");
    write_text(to_utf8(command_line));
    writer.Key("arguments");
    write_text(to_utf8(arguments));
    writer.Key("job_file");
    if (job_file)
        write_text(*job_file);
    else
        writer.Null();
    writer.EndObject();

    append_record(record_file_path(), std::string(buffer.GetString(), buffer.GetSize()) + "\n");
    return 0;
}
