#include "common/setting_utilities/json_document.h"

#include "diagnostics/log.h"
#include "module/raii.h"

#include <rapidjson/memorystream.h>

#include <windows.h>

namespace common::setting_utilities
{
namespace
{
// Length of the longest prefix of text that is well-formed UTF-8.
size_t valid_utf8_prefix(std::string_view text)
{
    size_t i = 0;
    const size_t n = text.size();
    while (i < n)
    {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t length = 0;
        unsigned lower = 0x80, upper = 0xBF;
        if (c < 0x80)
            length = 1;
        else if (c >= 0xC2 && c <= 0xDF)
            length = 2;
        else if (c == 0xE0)
            length = 3, lower = 0xA0;
        else if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF)
            length = 3;
        else if (c == 0xED)
            length = 3, upper = 0x9F; // no surrogates
        else if (c == 0xF0)
            length = 4, lower = 0x90;
        else if (c >= 0xF1 && c <= 0xF3)
            length = 4;
        else if (c == 0xF4)
            length = 4, upper = 0x8F;
        else
            return i;
        if (i + length > n)
            return i;
        for (size_t k = 1; k < length; ++k)
        {
            const auto d = static_cast<unsigned char>(text[i + k]);
            if (d < (k == 1 ? lower : 0x80) || d > (k == 1 ? upper : 0xBF))
                return i;
        }
        i += length;
    }
    return n;
}
} // namespace

std::string read_settings_text(const std::filesystem::path& file)
{
    unique_hfile handle(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle)
        return {};
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle.get(), &size) || size.QuadPart < 0 || size.QuadPart > 0x7FFFFFFF)
        return {};
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < bytes.size())
    {
        DWORD read = 0;
        if (!ReadFile(handle.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &read, nullptr) ||
            read == 0)
            break;
        done += read;
    }
    bytes.resize(valid_utf8_prefix(std::string_view(bytes.data(), done)));
    return bytes;
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
