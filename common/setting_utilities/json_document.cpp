#include "common/setting_utilities/json_document.h"

namespace common::setting_utilities
{
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
