// The Settings app stand-in. For every start it appends one line of compact JSON to its record file:
//   {"command_line": <its whole command line>, "arguments": <the text after the program>,
//    "working_directory": <its current directory>, "process_id": <its process id>}
// The record file is %VELMORA_SETTINGS_APP_RECORD% when that is set, otherwise "Velmora.records.jsonl"
// beside the executable (a start handed to Explorer's own process does not carry the caller's
// environment). It then ends at once; the process id lets a test wait for that.

#include <windows.h>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

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

// The command line after the program name and the blanks that follow it, as the C runtime splits off
// argv[0]: a quoted name ends at the next quotation mark, a plain one at the first blank.
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

std::wstring current_directory()
{
    std::wstring directory(GetCurrentDirectoryW(0, nullptr), L'\0');
    directory.resize(GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), directory.data()));
    return directory;
}

std::wstring record_file_path()
{
    std::wstring configured(32767, L'\0');
    const DWORD length = GetEnvironmentVariableW(L"VELMORA_SETTINGS_APP_RECORD", configured.data(),
                                                 static_cast<DWORD>(configured.size()));
    if (length > 0 && length < configured.size())
        return configured.substr(0, length);
    std::wstring self(32767, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    self.resize(self.find_last_of(L"\\/") + 1);
    return self + L"Velmora.records.jsonl";
}

void append_record(const std::wstring& record_file, const std::string& line)
{
    // Several starts may record at once; each record goes out in one appending write.
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
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    const auto write_text = [&writer](const std::wstring& text) {
        const std::string utf8 = to_utf8(text);
        writer.String(utf8.data(), static_cast<rapidjson::SizeType>(utf8.size()));
    };
    writer.StartObject();
    writer.Key("command_line");
    write_text(command_line);
    writer.Key("arguments");
    write_text(arguments_of(command_line));
    writer.Key("working_directory");
    write_text(current_directory());
    writer.Key("process_id");
    writer.Uint(GetCurrentProcessId());
    writer.EndObject();
    append_record(record_file_path(), std::string(buffer.GetString(), buffer.GetSize()) + "\n");
    return 0;
}
