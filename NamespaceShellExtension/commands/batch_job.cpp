#include "commands/batch_job.h"

#include "base/log.h"
#include "base/module_folder.h"
#include "base/raii.h"
#include "commands/shell_launch.h"
#include "common/setting_utilities/json_document.h"

#include <objbase.h>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <stdexcept>

std::string make_guid_text()
{
    GUID guid{};
    if (FAILED(CoCreateGuid(&guid)))
        throw std::runtime_error("Unable to create GUID");
    return guid_text(guid);
}

batch_job::batch_job(std::vector<std::wstring> files, std::wstring action_type_text, std::wstring action_parameters)
    : files_(std::move(files)), action_type_text_(std::move(action_type_text)),
      action_parameters_(std::move(action_parameters)), uncaught_at_creation_(std::uncaught_exceptions())
{
}

batch_job::~batch_job() noexcept(false)
{
    if (!remove_on_destroy_ || !job_file_path_made_)
        return;
    std::error_code ec;
    if (!std::filesystem::exists(job_file_path_, ec))
        return;
    if (std::uncaught_exceptions() > uncaught_at_creation_)
        std::filesystem::remove(job_file_path_, ec);
    else
        std::filesystem::remove(job_file_path_);
}

const std::filesystem::path& batch_job::make_job_file_path()
{
    if (!job_file_path_made_)
    {
        // temp_directory_path also insists that the folder exists.
        const std::filesystem::path folder = std::filesystem::temp_directory_path();
        guid_ = make_guid_text();
        job_file_path_ = folder / job_file_name(guid_);
        job_file_path_made_ = true;
    }
    return job_file_path_;
}

std::string batch_job::to_json() const
{
    common::setting_utilities::json_string_buffer buffer;
    common::setting_utilities::json_pretty_writer writer(buffer);
    writer.SetIndent(' ', 4);
    const auto write_text = [&writer](const std::string& text) {
        writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
    };
    writer.StartObject();
    writer.Key("version");
    writer.String("1.0");
    writer.Key("job");
    writer.StartObject();
    writer.Key("guid");
    write_text(guid_);
    writer.Key("action_type");
    write_text(to_utf8(action_type_text_));
    writer.Key("action_parameters");
    write_text(to_utf8(action_parameters_));
    writer.EndObject();
    writer.Key("files");
    writer.StartArray();
    for (const auto& file : files_)
    {
        writer.StartObject();
        writer.Key("path");
        write_text(to_utf8(file));
        writer.EndObject();
    }
    writer.EndArray();
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

namespace
{
// The worker reads the file as text written by a text-mode stream: every line feed becomes a carriage
// return and line feed.
std::string with_crlf_line_ends(const std::string& text)
{
    std::string result;
    result.reserve(text.size() + text.size() / 16);
    for (const char c : text)
    {
        if (c == '\n')
            result += '\r';
        result += c;
    }
    return result;
}

void write_job_file(const std::filesystem::path& path, const std::string& bytes)
{
    unique_hfile file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        throw std::runtime_error("Failed to open file for writing: " + to_utf8(path.native()));
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size())
        throw std::runtime_error("Failed to write file: " + to_utf8(path.native()));
}
} // namespace

void submit_batch_job(HMODULE module, const std::vector<std::wstring>& files, action_type action,
                      const std::wstring& action_parameters)
{
    batch_job job(files, action_type_to_text(action), action_parameters);
    const std::filesystem::path job_file = job.make_job_file_path();
    job.keep_job_file();
    write_job_file(job_file, with_crlf_line_ends(job.to_json()));
    // The worker expects the path unquoted, blanks and all.
    launch_via_shell(join_path(module_folder(module), batch_worker_file_name), job_file.native());
}
