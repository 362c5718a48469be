#include "start_record/start_record_reader.h"

#include <rapidjson/document.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

namespace start_record
{
namespace
{
std::wstring from_utf8(std::string_view text)
{
    if (text.empty())
        return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
    return result;
}

std::string file_contents(const std::filesystem::path& path)
{
    std::ifstream stream(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}
} // namespace

std::optional<std::string> record::text(const char* name) const
{
    const auto found = texts.find(name);
    if (found == texts.end())
        return std::nullopt;
    return found->second;
}

std::wstring record::wide_text(const char* name) const
{
    return from_utf8(text(name).value_or(""));
}

std::uint32_t record::number(const char* name) const
{
    const auto found = numbers.find(name);
    return found == numbers.end() ? 0u : found->second;
}

record_file::record_file(const wchar_t* environment_variable, std::wstring_view file_prefix,
                         std::filesystem::path fallback_file)
    : environment_variable_(environment_variable),
      file_(std::filesystem::temp_directory_path() /
            (std::wstring(file_prefix) + std::to_wstring(GetCurrentProcessId()) + L".jsonl")),
      fallback_file_(std::move(fallback_file))
{
    clear();
    SetEnvironmentVariableW(environment_variable_.c_str(), file_.c_str());
}

record_file::~record_file()
{
    SetEnvironmentVariableW(environment_variable_.c_str(), nullptr);
    clear();
}

std::vector<record> record_file::read() const
{
    std::vector<record> all;
    for (const bool inherited : {true, false})
    {
        std::istringstream lines(file_contents(inherited ? file_ : fallback_file_));
        for (std::string line; std::getline(lines, line);)
        {
            rapidjson::Document document;
            if (document.Parse(line.data(), line.size()).HasParseError() || !document.IsObject())
                continue;
            record entry;
            entry.inherited_environment = inherited;
            for (const auto& member : document.GetObject())
            {
                const std::string name(member.name.GetString(), member.name.GetStringLength());
                if (member.value.IsString())
                    entry.texts.emplace(name, std::string(member.value.GetString(), member.value.GetStringLength()));
                else if (member.value.IsUint())
                    entry.numbers.emplace(name, member.value.GetUint());
            }
            all.push_back(std::move(entry));
        }
    }
    return all;
}

void record_file::clear() const
{
    std::error_code ec;
    std::filesystem::remove(file_, ec);
    std::filesystem::remove(fallback_file_, ec);
}
} // namespace start_record
