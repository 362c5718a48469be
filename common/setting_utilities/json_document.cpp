#include "common/setting_utilities/json_document.h"

#include "common/setting_utilities/settings_file_stream.h"

#include <rapidjson/memorystream.h>

namespace common::setting_utilities
{
std::string read_settings_text(const std::filesystem::path& file)
{
    settings_file_stream stream(file.wstring());
    std::string text;
    for (auto run = stream.take_run(); !run.empty(); run = stream.take_run())
        text += run;
    return text;
}

void parse_strict_json(std::string_view text, rapidjson::Document& document)
{
    // RapidJSON's memory stream reads a NUL as the end of the text, so "{}" followed by a NUL and
    // anything at all would pass as one root value. A NUL is valid nowhere in JSON text.
    if (text.find('\0') != std::string_view::npos)
    {
        document.SetNull();
        return;
    }
    // Document::Parse(text, length) wraps the text in an encoded stream that silently drops a leading
    // UTF-8 byte-order mark; a settings file that starts with one must not parse, so read the bytes as
    // they are.
    rapidjson::MemoryStream stream(text.data(), text.size());
    document.ParseStream<rapidjson::kParseIterativeFlag, rapidjson::UTF8<>>(stream);
    if (document.HasParseError())
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
