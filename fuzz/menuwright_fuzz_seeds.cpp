// Writes the seed corpus of menuwright_fuzz: valid models of several shapes, a control file and a few
// catalog identifiers, so that the fuzzer starts from inputs that pass every check.
//   menuwright_fuzz_seeds <folder>

#include "menuwright_snapshot_writer/menuwright_snapshot_writer.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace menuwright_writer;

namespace
{
void write(const std::filesystem::path& file, const std::vector<std::byte>& bytes)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::byte> utf16(std::u16string_view text)
{
    std::vector<std::byte> bytes;
    for (char16_t c : text)
    {
        bytes.push_back(static_cast<std::byte>(c & 0xFF));
        bytes.push_back(static_cast<std::byte>(c >> 8));
    }
    return bytes;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: menuwright_fuzz_seeds <folder>\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);

    write(folder / "sample.bin", sample_model().build());
    write(folder / "sample-padded.bin", sample_model().build(64));

    snapshot_builder minimal;
    minimal.header_text = minimal.text(u"m");
    minimal.add_quick_pins_group(u"Pins", u"");
    write(folder / "minimal.bin", minimal.build());

    snapshot_builder groups;
    groups.header_text = groups.text(u"groups");
    for (int i = 0; i < 12; ++i)
    {
        const std::u16string n(1, static_cast<char16_t>(u'a' + i));
        groups.add_quick_pins_group(u"Group " + n, i % 3 == 0 ? u"" : u"%USERPROFILE%\\Pins\\" + n);
        groups.add_catalog_item(u"windows:verb-" + n);
    }
    groups.add_scope();
    groups.scope(0).set_range(13, 0, groups.item_count());
    write(folder / "groups.bin", groups.build());

    snapshot_builder user;
    user.header_text = user.text(u"user");
    user.add_text_list();
    item_record command;
    command.set_text(3, user.text(u"user:{0123abcd-4567-89ef-0123-456789abcdef}"));
    command.set_text(10, user.text(u"notepad.exe"));
    command.set_range(12, 0, 1);
    user.add_item(command);
    definition_record definition;
    definition.words[15] = 2;
    definition.set_text(16, user.text(u"tip"));
    user.add_definition(definition);
    write(folder / "user.bin", user.build());

    write(folder / "control.bin", control_file(7));
    write(folder / "id-com.bin",
          utf16(u"com:{a1b2c3d4-0000-4000-8000-00aabbccddee}:canonical:{0f0e0d0c-0b0a-4909-8807-060504030201}"));
    write(folder / "id-catalog.bin", utf16(u"com:{a1b2c3d4-0000-4000-8000-00aabbccddee}:catalog:open"));
    write(folder / "id-user.bin", utf16(u"user:{0123abcd-4567-89ef-0123-456789abcdef}"));
    return 0;
}
