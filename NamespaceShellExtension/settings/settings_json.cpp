#include "settings/settings_json.h"

#include "base/log.h"
#include "common/setting_utilities/json_document.h"

#include <limits>

namespace settings_json
{
namespace
{
constexpr wchar_t replacement_character = 0xFFFD;

bool is_continuation(unsigned char byte) noexcept
{
    return (byte & 0xC0) == 0x80;
}
} // namespace

std::wstring widen(std::string_view text)
{
    // A UTF-16 text never has more units than its UTF-8 form has bytes.
    std::wstring result(text.size(), L'\0');
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    size_t out = 0;
    size_t i = 0;
    while (i < size)
    {
        const unsigned char lead = bytes[i];
        if (lead < 0x80)
        {
            result[out++] = static_cast<wchar_t>(lead);
            ++i;
            continue;
        }
        size_t length = 0;
        char32_t code = 0;
        char32_t minimum = 0;
        if (lead >= 0xC2 && lead <= 0xDF)
            length = 2, code = lead & 0x1F, minimum = 0x80;
        else if (lead >= 0xE0 && lead <= 0xEF)
            length = 3, code = lead & 0x0F, minimum = 0x800;
        else if (lead >= 0xF0 && lead <= 0xF4)
            length = 4, code = lead & 0x07, minimum = 0x10000;
        bool valid = length != 0 && i + length <= size;
        for (size_t k = 1; valid && k < length; ++k)
        {
            if (!is_continuation(bytes[i + k]))
                valid = false;
            else
                code = (code << 6) | (bytes[i + k] & 0x3F);
        }
        // Overlong forms, encoded surrogates (which RapidJSON makes of a lone "\uDC00") and values past
        // U+10FFFF have no UTF-16 form.
        if (valid && (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)))
            valid = false;
        if (!valid)
        {
            result[out++] = replacement_character;
            ++i;
            continue;
        }
        if (code >= 0x10000)
        {
            code -= 0x10000;
            result[out++] = static_cast<wchar_t>(0xD800 + (code >> 10));
            result[out++] = static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
        }
        else
            result[out++] = static_cast<wchar_t>(code);
        i += length;
    }
    result.resize(out);
    return result;
}

std::string narrow(std::wstring_view text)
{
    return to_utf8(text);
}

std::optional<std::wstring> wide_member(const common::setting_utilities::json_value& object, const char* name)
{
    const auto* value = common::setting_utilities::find_member(object, name);
    if (!value || !value->IsString())
        return std::nullopt;
    return widen(std::string_view(value->GetString(), value->GetStringLength()));
}

std::optional<std::int32_t> int32_member(const common::setting_utilities::json_value& object, const char* name)
{
    const auto* value = common::setting_utilities::find_member(object, name);
    // RapidJSON keeps a number written with a fraction or an exponent as a double even when its value
    // is whole, so IsInt() is exactly "an integer literal that fits".
    if (!value || !value->IsInt())
        return std::nullopt;
    return static_cast<std::int32_t>(value->GetInt());
}

std::optional<bool> bool_member(const common::setting_utilities::json_value& object, const char* name)
{
    const auto* value = common::setting_utilities::find_member(object, name);
    if (!value || !value->IsBool())
        return std::nullopt;
    return value->GetBool();
}

std::int32_t decimal_prefix(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    constexpr long long limit = static_cast<long long>(std::numeric_limits<std::int32_t>::max()) + 1;
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    {
        value = value * 10 + (text[i] - '0');
        if (value > limit)
            value = limit;
    }
    if (negative)
        return static_cast<std::int32_t>(-value);
    return static_cast<std::int32_t>(value == limit ? limit - 1 : value);
}

void write_string(indented_writer& writer, std::wstring_view text)
{
    const std::string bytes = narrow(text);
    writer.String(bytes.data(), static_cast<rapidjson::SizeType>(bytes.size()));
}

void write_member(indented_writer& writer, const char* name, std::wstring_view text)
{
    writer.Key(name);
    write_string(writer, text);
}

void write_optional_member(indented_writer& writer, const char* name, const std::optional<std::wstring>& text)
{
    if (text)
        write_member(writer, name, *text);
}

void write_optional_member(indented_writer& writer, const char* name, const std::optional<std::int32_t>& number)
{
    if (!number)
        return;
    writer.Key(name);
    writer.Int(*number);
}

void write_optional_member(indented_writer& writer, const char* name, const std::optional<bool>& value)
{
    if (!value)
        return;
    writer.Key(name);
    writer.Bool(*value);
}
} // namespace settings_json
