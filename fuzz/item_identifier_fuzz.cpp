// The item identifier accessors on arbitrary records. An input of 12,064 bytes or more gives one of our
// records (its size field set to 12064, the rest as it comes), held in a block of exactly that size; a
// shorter input is a truncated record whose size field says its real length, and is never ours. Any
// read outside the record is an AddressSanitizer finding, any exception escapes as a crash.

#include "fuzz_support.h"

#include "items/search_and_action_item_layout.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace
{
constexpr bool is_separator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// The text of a field: up to its NUL or the end of its array.
template <std::size_t N>
std::wstring_view field_text(const wchar_t (&field)[N])
{
    std::size_t length = 0;
    while (length < N && field[length] != L'\0')
        ++length;
    return std::wstring_view(field, length);
}

void check_path_helpers(std::wstring_view path)
{
    const std::size_t root = path_root_length(path);
    FUZZ_REQUIRE(root <= path.size());
    const std::wstring name = path_file_name(path);
    FUZZ_REQUIRE(path.ends_with(name) && name.size() <= path.size() - root);
    for (const wchar_t c : name)
        FUZZ_REQUIRE(!is_separator(c));
    const std::wstring parent = path_parent(path);
    FUZZ_REQUIRE(path.starts_with(parent) && parent.size() >= root);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < item_data_size)
    {
        // A short identifier still has its size field (the shell's list terminator at the least).
        const std::size_t length = std::max<std::size_t>(size, 2);
        const auto bytes = std::make_unique<std::uint8_t[]>(length);
        if (size != 0)
            std::memcpy(bytes.get(), data, size);
        const auto field = static_cast<std::uint16_t>(length);
        std::memcpy(bytes.get(), &field, 2);
        FUZZ_REQUIRE(item_data_from_bytes(bytes.get()) == nullptr);
        return 0;
    }

    const auto bytes = std::make_unique<std::uint8_t[]>(item_data_size);
    std::memcpy(bytes.get(), data, item_data_size);
    std::memcpy(bytes.get(), &item_data_size, 2);
    const search_and_action_item_data* item = item_data_from_bytes(bytes.get());
    FUZZ_REQUIRE(item == reinterpret_cast<const search_and_action_item_data*>(bytes.get()));

    const std::wstring path = item_path(item);
    FUZZ_REQUIRE(path == field_text(item->path));
    FUZZ_REQUIRE(item_icon(item) == field_text(item->icon));
    FUZZ_REQUIRE(item_link_path(item) == field_text(item->link_path));
    check_path_helpers(path);
    check_path_helpers(field_text(item->link_path));
    check_path_helpers(field_text(item->query));

    const std::wstring display_name = item_display_name(item);
    const bool named = (item->kind == static_cast<std::uint8_t>(item_kind::quick_pin) ||
                        item->kind == static_cast<std::uint8_t>(item_kind::quick_pins_group)) &&
                       item->name[0] != L'\0';
    if (named)
        FUZZ_REQUIRE(display_name == field_text(item->name));
    else
    {
        FUZZ_REQUIRE(path.ends_with(display_name));
        FUZZ_REQUIRE(display_name.find(L'\\') == std::wstring::npos);
    }

    const std::wstring container = item_container_folder(item);
    const std::wstring_view source = item->kind == static_cast<std::uint8_t>(item_kind::quick_pins_group)
                                         ? field_text(item->path)
                                         : field_text(item->link_path);
    FUZZ_REQUIRE(source.starts_with(container));
    FUZZ_REQUIRE(!source.empty() || container.empty());
    return 0;
}
