#include "common/setting_utilities/json_document.h"

#include "common/setting_utilities/settings_file_stream.h"

namespace common::setting_utilities
{
void parse_settings_document(settings_file_stream& text, rapidjson::Document& document)
{
    // Straight from the stream: Document::Parse(text, length) would silently drop a leading byte-order
    // mark, and a settings file that starts with one must not parse.
    document.ParseStream<rapidjson::kParseIterativeFlag, rapidjson::UTF8<>>(text);
    if (document.HasParseError() || text.held_nul())
        document.SetNull();
}

const rapidjson::Value* find_member(const rapidjson::Value& object, const char* name)
{
    if (!object.IsObject())
        return nullptr;
    const auto it = object.FindMember(name);
    return it == object.MemberEnd() ? nullptr : &it->value;
}

const char* find_string(const rapidjson::Value& object, const char* name)
{
    const auto* value = find_member(object, name);
    return value && value->IsString() ? value->GetString() : nullptr;
}
} // namespace common::setting_utilities
