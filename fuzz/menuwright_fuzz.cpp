// Fuzzes the Menuwright reader with hostile bytes: the same input is taken as a control file, as a snapshot
// and as a catalog identifier. Besides the sanitizers' findings, a valid snapshot must give only groups
// whose names keep the rules, and an invalid one none at all.

#include "quick_pins/menuwright_snapshot.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

namespace
{
void require(bool condition)
{
    if (!condition)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);

    if (const auto number = menuwright::parse_control_file(bytes))
        require(size == menuwright::control_file_size && *number >= 1);

    std::u16string id(size / 2, u'\0');
    if (!id.empty())
        std::memcpy(id.data(), data, id.size() * sizeof(char16_t));
    const auto kind = menuwright::catalog_id_kind(id);
    require(kind <= menuwright::catalog_kind::ephemeral);
    require(kind == menuwright::catalog_kind::invalid || id.find(u':') != std::u16string::npos);

    const bool valid = menuwright::is_valid_snapshot(bytes);
    const auto groups = menuwright::read_pin_group_texts(bytes);
    require(valid || groups.empty());
    require(!valid || size >= menuwright::header_size);
    for (const auto& group : groups)
    {
        require(!group.name.empty() && group.name.size() <= menuwright::max_group_name_length);
        for (char16_t c : group.name)
            require(c >= 0x20 && c != 0x7F);
        require(group.folder.size() < size);
    }
    return 0;
}
