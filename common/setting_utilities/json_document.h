#pragma once
// Reading settings files as JSON documents.

#include <rapidjson/document.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace common::setting_utilities
{
// The file's text as UTF-8, decoded and re-encoded the way a UTF-8 text stream reads it: decoding stops
// at the first byte sequence that is not UTF-8, and a byte-order mark stays part of the text. A missing
// or unreadable file gives an empty text.
std::string read_settings_text(const std::filesystem::path& file);

// Strict JSON (one root value, no comments, no trailing commas). Parsing is iterative, so deep nesting
// cannot exhaust the stack. A parse error leaves the document null.
void parse_strict_json(std::string_view text, rapidjson::Document& document);

// A string member's value, or nullptr when the member is missing or not a string.
const rapidjson::Value* find_member(const rapidjson::Value& object, const char* name);
const char* find_string(const rapidjson::Value& object, const char* name);
} // namespace common::setting_utilities
