#pragma once
// Members of a settings file's JSON document, as every reader looks them up.

#include <rapidjson/document.h>

namespace common::setting_utilities
{
// The first member of that name, or nullptr when there is none or the value is not an object.
const rapidjson::Value* find_member(const rapidjson::Value& object, const char* name);
// A string member's value, or nullptr when the member is missing or not a string.
const char* find_string(const rapidjson::Value& object, const char* name);
} // namespace common::setting_utilities
