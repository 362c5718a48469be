#include "settings/namespace_settings.h"

#include "settings/settings_json.h"

namespace namespace_settings
{
namespace
{
using namespace settings_json;

// The members that lead both records.
template <class Record>
void write_leading_members(indented_writer& writer, const Record& record)
{
    write_member(writer, "name", record.name);
    write_optional_member(writer, "order", record.order);
    write_optional_member(writer, "hint", record.hint);
    write_member(writer, "icon", record.icon);
}

void write_query(indented_writer& writer, const query_record& record)
{
    writer.StartObject();
    write_leading_members(writer, record);
    write_member(writer, "query", record.query);
    write_optional_member(writer, "action_type", record.action_type);
    write_optional_member(writer, "action_parameters", record.action_parameters);
    write_optional_member(writer, "enabled", record.enabled);
    write_optional_member(writer, "target", record.target);
    writer.EndObject();
}

void write_folder(indented_writer& writer, const folder_record& record)
{
    writer.StartObject();
    write_leading_members(writer, record);
    write_optional_member(writer, "enabled", record.enabled);
    write_optional_member(writer, "default_view", record.default_view);
    writer.Key("queries");
    writer.StartArray();
    for (const auto& query : record.queries)
        write_query(writer, query);
    writer.EndArray();
    writer.EndObject();
}
} // namespace

settings_file::settings_file(HMODULE module) : common_settings_file(module, L"Settings", L"Namespace")
{
}

bool settings_file::read()
{
    try
    {
        common::setting_utilities::settings_file_stream text(full_path());
        auto contents = read_contents(text);
        // Text that does not parse, or a root that is not an object, changes nothing.
        if (!contents)
            return true;
        if (contents->version)
            version_ = std::move(*contents->version);
        if (contents->folders)
            folders_.swap(*contents->folders);
        return true;
    }
    catch (...)
    {
        return false;
    }
}

std::string settings_file::to_json() const
{
    common::setting_utilities::json_string_buffer buffer;
    indented_writer writer(buffer);
    writer.StartObject();
    write_member(writer, "version", version_);
    writer.Key("folders");
    writer.StartArray();
    for (const auto& folder : folders_)
        write_folder(writer, folder);
    writer.EndArray();
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

bool settings_file::write()
{
    return write_settings_text(full_path(), [this] { return to_json(); });
}
} // namespace namespace_settings
