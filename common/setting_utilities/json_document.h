#pragma once
// A settings file's JSON document: parsed from its text, and its members looked up as every reader does.

#include <rapidjson/document.h>

namespace common::setting_utilities
{
class settings_file_stream;

// The stream's text parsed as strict JSON: one root value, no comments, no trailing commas. Parsing is
// iterative, so deep nesting cannot exhaust the stack. Null when the text is empty or malformed.
void parse_settings_document(settings_file_stream& text, rapidjson::Document& document);

// The first member of that name, or nullptr when there is none or the value is not an object.
const rapidjson::Value* find_member(const rapidjson::Value& object, const char* name);
// A string member's value, or nullptr when the member is missing or not a string.
const char* find_string(const rapidjson::Value& object, const char* name);
} // namespace common::setting_utilities
