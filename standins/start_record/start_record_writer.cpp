#include "start_record/start_record_writer.h"

namespace start_record
{
std::string to_utf8(std::wstring_view text)
{
    if (text.empty())
        return {};
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr, nullptr);
    return result;
}

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

std::wstring record_file_path(const wchar_t* environment_variable, const wchar_t* fallback_name)
{
    std::wstring configured(32767, L'\0');
    const DWORD length =
        GetEnvironmentVariableW(environment_variable, configured.data(), static_cast<DWORD>(configured.size()));
    if (length > 0 && length < configured.size())
        return configured.substr(0, length);
    std::wstring self(32767, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    self.resize(self.find_last_of(L"\\/") + 1);
    return self + fallback_name;
}

void append_record(const std::wstring& record_file, const std::string& line)
{
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

void record_writer::text(const char* name, std::wstring_view value)
{
    bytes(name, to_utf8(value));
}

void record_writer::bytes(const char* name, std::string_view value)
{
    writer_.Key(name);
    writer_.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
}

void record_writer::null(const char* name)
{
    writer_.Key(name);
    writer_.Null();
}

void record_writer::number(const char* name, std::uint32_t value)
{
    writer_.Key(name);
    writer_.Uint(value);
}

std::string record_writer::line()
{
    writer_.EndObject();
    return std::string(buffer_.GetString(), buffer_.GetSize()) + "\n";
}
} // namespace start_record
