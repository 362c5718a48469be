#pragma once
// What the fuzz targets share: the check that stops a run on a broken rule, the plain reading of a
// settings file's bytes that the product's readers are held to, and the splitting of an input into
// texts.

#include "common/setting_utilities/json_document.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

// A broken rule is a finding: libFuzzer keeps the input that made it.
#define FUZZ_REQUIRE(condition)                                                                            \
    do                                                                                                     \
    {                                                                                                      \
        if (!(condition))                                                                                  \
        {                                                                                                  \
            std::fprintf(stderr, "%s:%d: rule broken: %s\n", __FILE__, __LINE__, #condition);              \
            std::abort();                                                                                  \
        }                                                                                                  \
    } while (false)

namespace fuzz_support
{
// The text that a settings file of these bytes holds, worked out the plain way: the bytes up to the
// first that does not begin a well-formed UTF-8 sequence (shortest form, no surrogate, nothing above
// U+10FFFF, not cut off by the end).
inline std::string_view plain_settings_text(std::string_view bytes)
{
    std::size_t i = 0;
    while (i < bytes.size())
    {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xC0 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF8 ? 4 : 0;
        if (length == 0 || i + length > bytes.size())
            break;
        char32_t code = length == 1 ? lead : lead & (0x7F >> length);
        bool continued = true;
        for (std::size_t k = 1; k < length; ++k)
        {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            continued = continued && (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        constexpr char32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!continued || code < shortest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            break;
        i += length;
    }
    return bytes.substr(0, i);
}

// The settings document of these bytes by a plain parse of that text: strict JSON with RapidJSON's
// default grammar; a text that starts with a byte-order mark or holds a NUL does not parse. False when
// there is no document.
inline bool plain_settings_document(std::string_view bytes, common::setting_utilities::json_document& document)
{
    const std::string_view text = plain_settings_text(bytes);
    if (text.starts_with("\xEF\xBB\xBF") || text.find('\0') != std::string_view::npos)
        return false;
    document.Parse<rapidjson::kParseIterativeFlag>(text.data(), text.size());
    return !document.HasParseError();
}

// The parts of `bytes` between the separators.
inline std::vector<std::string_view> split(std::string_view bytes, char separator)
{
    std::vector<std::string_view> parts;
    for (;;)
    {
        const std::size_t end = bytes.find(separator);
        parts.push_back(bytes.substr(0, end));
        if (end == std::string_view::npos)
            return parts;
        bytes.remove_prefix(end + 1);
    }
}

// UTF-16 units of `bytes` read as UTF-8 that may encode surrogates singly, so that any unit sequence
// can be written: a byte that begins no such sequence stands for the unit of its own value.
inline std::wstring wide_text(std::string_view bytes)
{
    std::wstring text;
    for (std::size_t i = 0; i < bytes.size();)
    {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = lead < 0xC2 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 1;
        char32_t code = length == 1 ? lead : lead & (0x7F >> length);
        bool continued = i + length <= bytes.size();
        for (std::size_t k = 1; continued && k < length; ++k)
        {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            continued = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        if (!continued || (length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)))
        {
            text += static_cast<wchar_t>(lead);
            ++i;
            continue;
        }
        if (code >= 0x10000)
        {
            text += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
            text += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        }
        else
            text += static_cast<wchar_t>(code);
        i += length;
    }
    return text;
}
} // namespace fuzz_support
