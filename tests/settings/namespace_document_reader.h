#pragma once
// The namespace file read through a document tree, member by member with the helpers that the tags and
// people files use: the reference that its one-pass reader is held to by the namespace fuzzer.

#include "settings/namespace_settings.h"
#include "settings/settings_json.h"

#include <rapidjson/document.h>

#include <optional>

namespace settings_test
{
inline namespace_settings::query_record document_query(const common::setting_utilities::json_value& element)
{
    using namespace settings_json;
    namespace_settings::query_record record;
    if (!element.IsObject())
        return record;
    record.name = wide_member(element, "name").value_or(L"");
    record.order = int32_member(element, "order");
    record.hint = wide_member(element, "hint");
    record.icon = wide_member(element, "icon").value_or(L"");
    record.query = wide_member(element, "query").value_or(L"");
    record.action_type = wide_member(element, "action_type");
    record.action_parameters = wide_member(element, "action_parameters");
    record.enabled = bool_member(element, "enabled");
    record.target = wide_member(element, "target");
    return record;
}

inline namespace_settings::folder_record document_folder(const common::setting_utilities::json_value& element)
{
    using namespace settings_json;
    namespace_settings::folder_record record;
    if (!element.IsObject())
        return record;
    record.name = wide_member(element, "name").value_or(L"");
    record.order = int32_member(element, "order");
    record.hint = wide_member(element, "hint");
    record.icon = wide_member(element, "icon").value_or(L"");
    record.enabled = bool_member(element, "enabled");
    record.default_view = wide_member(element, "default_view");
    std::optional<std::vector<namespace_settings::query_record>> queries;
    read_list(element, "queries", queries, document_query);
    record.queries = std::move(queries).value_or(std::vector<namespace_settings::query_record>{});
    return record;
}

// What the document says: nothing when its root is not an object.
inline std::optional<namespace_settings::file_contents> document_contents(const common::setting_utilities::json_document& document)
{
    if (!document.IsObject())
        return std::nullopt;
    namespace_settings::file_contents contents;
    contents.version = settings_json::wide_member(document, "version");
    settings_json::read_list(document, "folders", contents.folders, document_folder);
    return contents;
}
} // namespace settings_test
