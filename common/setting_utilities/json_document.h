#pragma once
// The JSON types every reader and writer of the settings files uses, a settings file's document parsed
// from its text, and its members looked up as every reader does.

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>

#include <cstddef>

namespace common::setting_utilities
{
// RapidJSON's own allocator returns malloc's null when memory runs out and then writes through it, which
// would take the host process down. This one allocates with operator new and raises std::bad_alloc
// instead, which the readers and writers turn into a failed load or write.
class json_allocator
{
public:
    static const bool kNeedFree = true;
    void* Malloc(std::size_t size);
    // Never frees the original block unless the new one was made.
    void* Realloc(void* original, std::size_t original_size, std::size_t new_size);
    static void Free(void* memory) noexcept;
};

using json_document =
    rapidjson::GenericDocument<rapidjson::UTF8<>, rapidjson::MemoryPoolAllocator<json_allocator>, json_allocator>;
using json_value = json_document::ValueType;
using json_reader = rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, json_allocator>;
using json_string_buffer = rapidjson::GenericStringBuffer<rapidjson::UTF8<>, json_allocator>;
using json_pretty_writer = rapidjson::PrettyWriter<json_string_buffer, rapidjson::UTF8<>, rapidjson::UTF8<>, json_allocator>;

class settings_file_stream;

// The stream's text parsed as strict JSON: one root value, no comments, no trailing commas. Parsing is
// iterative, so deep nesting cannot exhaust the stack. Null when the text is empty or malformed.
void parse_settings_document(settings_file_stream& text, json_document& document);

// The first member of that name, or nullptr when there is none or the value is not an object.
const json_value* find_member(const json_value& object, const char* name);
// A string member's value, or nullptr when the member is missing or not a string.
const char* find_string(const json_value& object, const char* name);
} // namespace common::setting_utilities
