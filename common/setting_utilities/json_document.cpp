#include "common/setting_utilities/json_document.h"

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
