#include "settings/namespace_settings.h"

#include "common/setting_utilities/json_document.h"
#include "settings/settings_json.h"

namespace namespace_settings
{
namespace
{
using common::setting_utilities::find_member;
using namespace settings_json;

query_record read_query(const rapidjson::Value& element)
{
    query_record record;
    if (!element.IsObject())
        return record;
    if (auto text = wide_member(element, "name"))
        record.name = std::move(*text);
    record.order = int32_member(element, "order");
    record.hint = wide_member(element, "hint");
    if (auto text = wide_member(element, "icon"))
        record.icon = std::move(*text);
    if (auto text = wide_member(element, "query"))
        record.query = std::move(*text);
    record.action_type = wide_member(element, "action_type");
    record.action_parameters = wide_member(element, "action_parameters");
    record.enabled = bool_member(element, "enabled");
    record.target = wide_member(element, "target");
    return record;
}

folder_record read_folder(const rapidjson::Value& element)
{
    folder_record record;
    if (!element.IsObject())
        return record;
    if (auto text = wide_member(element, "name"))
        record.name = std::move(*text);
    record.order = int32_member(element, "order");
    record.hint = wide_member(element, "hint");
    if (auto text = wide_member(element, "icon"))
        record.icon = std::move(*text);
    record.enabled = bool_member(element, "enabled");
    record.default_view = wide_member(element, "default_view");
    const auto* queries = find_member(element, "queries");
    if (queries && queries->IsArray())
    {
        record.queries.reserve(queries->Size());
        for (const auto& query : queries->GetArray())
            record.queries.push_back(read_query(query));
    }
    return record;
}

void write_query(indented_writer& writer, const query_record& record)
{
    writer.StartObject();
    write_member(writer, "name", record.name);
    if (record.order)
    {
        writer.Key("order");
        writer.Int(*record.order);
    }
    write_optional_member(writer, "hint", record.hint);
    write_member(writer, "icon", record.icon);
    write_member(writer, "query", record.query);
    write_optional_member(writer, "action_type", record.action_type);
    write_optional_member(writer, "action_parameters", record.action_parameters);
    if (record.enabled)
    {
        writer.Key("enabled");
        writer.Bool(*record.enabled);
    }
    write_optional_member(writer, "target", record.target);
    writer.EndObject();
}

void write_folder(indented_writer& writer, const folder_record& record)
{
    writer.StartObject();
    write_member(writer, "name", record.name);
    if (record.order)
    {
        writer.Key("order");
        writer.Int(*record.order);
    }
    write_optional_member(writer, "hint", record.hint);
    write_member(writer, "icon", record.icon);
    if (record.enabled)
    {
        writer.Key("enabled");
        writer.Bool(*record.enabled);
    }
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
        rapidjson::Document document;
        read_document(document);
        if (!document.IsObject())
            return true;
        if (auto version = wide_member(document, "version"))
            version_ = std::move(*version);
        const auto* folders = find_member(document, "folders");
        if (!folders || !folders->IsArray())
            return true;
        // Built aside and swapped in, so that running out of memory half-way leaves the old list.
        std::vector<folder_record> records;
        records.reserve(folders->Size());
        for (const auto& folder : folders->GetArray())
            records.push_back(read_folder(folder));
        folders_.swap(records);
        return true;
    }
    catch (...)
    {
        return false;
    }
}

std::string settings_file::to_json() const
{
    rapidjson::StringBuffer buffer;
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
    try
    {
        replace_file_contents(full_path(), to_json());
        return true;
    }
    catch (...)
    {
        return false;
    }
}
} // namespace namespace_settings
