#include "common/setting_utilities/json_document.h"

#include "common/setting_utilities/settings_file_stream.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace common::setting_utilities
{
void* json_allocator::Malloc(std::size_t size)
{
    return size ? ::operator new(size) : nullptr;
}

void* json_allocator::Realloc(void* original, std::size_t original_size, std::size_t new_size)
{
    if (new_size == 0)
    {
        Free(original);
        return nullptr;
    }
    void* memory = ::operator new(new_size);
    if (original)
    {
        std::memcpy(memory, original, std::min(original_size, new_size));
        Free(original);
    }
    return memory;
}

void json_allocator::Free(void* memory) noexcept
{
    ::operator delete(memory);
}

void parse_settings_document(settings_file_stream& text, json_document& document)
{
    // Straight from the stream: Document::Parse(text, length) would silently drop a leading byte-order
    // mark, and a settings file that starts with one must not parse.
    document.ParseStream<rapidjson::kParseIterativeFlag, rapidjson::UTF8<>>(text);
    if (document.HasParseError() || text.held_nul())
        document.SetNull();
}

const json_value* find_member(const json_value& object, const char* name)
{
    if (!object.IsObject())
        return nullptr;
    const auto it = object.FindMember(name);
    return it == object.MemberEnd() ? nullptr : &it->value;
}

const char* find_string(const json_value& object, const char* name)
{
    const auto* value = find_member(object, name);
    return value && value->IsString() ? value->GetString() : nullptr;
}
} // namespace common::setting_utilities
