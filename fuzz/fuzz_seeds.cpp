// Writes the generated seeds of the fuzz targets from the default configuration files: the texts that
// the default namespace configuration resolves against the default tags and people (references_fuzz),
// the identifiers of its organised folders and searches beside the paths of the identifier tests
// (item_identifier_fuzz), and the display names that shortcuts are named after (file_names_fuzz).
//   fuzz_seeds <Content/Configurations folder> <seeds folder>

#include "base/log.h"
#include "items/configuration_references.h"
#include "items/search_and_action_item_layout.h"
#include "settings/all_people_settings.h"
#include "settings/all_tags_settings.h"
#include "settings/namespace_settings.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace
{
using common::setting_utilities::settings_file_stream;

std::string read_bytes(const std::filesystem::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

void write_bytes(const std::filesystem::path& file, const void* data, std::size_t size)
{
    std::ofstream stream(file, std::ios::binary | std::ios::trunc);
    stream.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void write_text(const std::filesystem::path& file, const std::string& text)
{
    write_bytes(file, text.data(), text.size());
}

template <std::size_t N>
void set_field(wchar_t (&field)[N], std::wstring_view text)
{
    const std::size_t length = std::min(text.size(), N - 1);
    std::copy_n(text.data(), length, field);
    field[length] = L'\0';
}

struct record_writer
{
    std::filesystem::path folder;
    int count = 0;

    search_and_action_item_data fresh(item_kind kind) const
    {
        search_and_action_item_data item;
        std::memset(&item, 0, sizeof item);
        item.cb = item_data_size;
        item.kind = static_cast<std::uint8_t>(kind);
        item.order = no_order;
        return item;
    }
    void write(const search_and_action_item_data& item)
    {
        write_bytes(folder / ("record-" + std::to_string(++count)), &item, sizeof item);
    }
};
} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
    {
        std::fprintf(stderr, "usage: fuzz_seeds <Content/Configurations folder> <seeds folder>\n");
        return 2;
    }
    const std::filesystem::path defaults = argv[1];
    const std::filesystem::path seeds = argv[2];

    const std::string namespace_bytes = read_bytes(defaults / "Namespace.json");
    const std::string tags_bytes = read_bytes(defaults / "All Tags.json");
    const std::string people_bytes = read_bytes(defaults / "All People.json");
    settings_file_stream namespace_text(namespace_bytes), tags_text(tags_bytes), people_text(people_bytes);
    const auto configuration = namespace_settings::read_contents(namespace_text);
    const auto tags_file = all_tags_settings::read_contents(tags_text);
    const auto people_file = all_people_settings::read_contents(people_text);
    if (!configuration || !configuration->folders || !tags_file || !tags_file->tags || !people_file)
    {
        std::fprintf(stderr, "fuzz_seeds: the default configuration files do not read\n");
        return 1;
    }
    const auto& tags = *tags_file->tags;
    // The default people file is empty; three people make the people references resolve.
    std::vector<all_people_settings::person_record> people = people_file->people.value_or(
        std::vector<all_people_settings::person_record>{});
    if (people.empty())
        people = {{.name = L"\u00c5sa", .main_photo = L"C:\\Photos\\asa.jpg"}, {.name = L"Bob"}, {.name = L"Carl"}};

    for (const char* target : {"references_fuzz", "item_identifier_fuzz", "file_names_fuzz"})
        std::filesystem::create_directories(seeds / target);

    // references_fuzz: text, tags, people, selected paths, primary paths.
    std::string lists = "\x1E";
    for (std::size_t i = 0; i < tags.size(); ++i)
    {
        lists += (i ? "\x1F" : "") + to_utf8(tags[i].name);
        if (tags[i].icon_not_tagged)
            lists += "\x1D" + to_utf8(*tags[i].icon_not_tagged);
    }
    lists += "\x1E";
    for (std::size_t i = 0; i < people.size(); ++i)
    {
        lists += (i ? "\x1F" : "") + to_utf8(people[i].name);
        if (people[i].main_photo)
            lists += "\x1D" + to_utf8(*people[i].main_photo);
    }
    lists += "\x1E" "C:\\Users\\Fuzz\\a b.txt\x1F" "C:\\x\"y.txt\x1E" "C:\\first.txt";
    int text_count = 0;
    const auto add_text = [&](const std::wstring& text) {
        write_text(seeds / "references_fuzz" / ("default-" + std::to_string(++text_count)), to_utf8(text) + lists);
    };

    record_writer records{seeds / "item_identifier_fuzz"};
    int name_count = 0;
    const auto add_name = [&](const std::wstring& name) {
        write_text(seeds / "file_names_fuzz" / ("default-" + std::to_string(++name_count)), to_utf8(name));
    };

    for (const auto& folder : *configuration->folders)
    {
        add_text(folder.name);
        add_name(folder.name);
        auto folder_item = records.fresh(item_kind::organized_folder);
        set_field(folder_item.path, std::wstring(main_root_parsing_name) + L"\\" + folder.name);
        set_field(folder_item.icon, folder.icon);
        records.write(folder_item);
        for (const auto& query : folder.queries)
        {
            for (const auto* text : {&query.name, &query.icon, &query.query})
                add_text(*text);
            for (const auto* text : {&query.action_parameters, &query.target, &query.hint})
                if (*text)
                    add_text(**text);
            const std::wstring name = resolve_references(query.name, tags, people);
            add_name(name);
            auto item = records.fresh(item_kind::organized_search);
            set_field(item.path, std::wstring(main_root_parsing_name) + L"\\" + folder.name + L"\\" + name);
            set_field(item.icon, resolve_references(query.icon, tags, people));
            set_field(item.query, resolve_references(query.query, tags, people));
            if (query.action_parameters)
                set_field(item.action_parameters, resolve_references(*query.action_parameters, tags, people));
            records.write(item);
        }
    }

    // A long list (within the targets' 64 KiB): the references of a text resolve against 4,000 tags.
    std::string many = "$tags[3999].name $tags[0].icon_not_tagged $tags[2500].icon $people[2].name\x1E";
    for (int i = 0; i < 4000; ++i)
        many += (i ? "\x1F" : "") + ("tag " + std::to_string(i)) + (i % 2 ? "\x1D" "icon.ico" : "");
    write_text(seeds / "references_fuzz" / "many-tags", many + "\x1E" "a\x1F" "b\x1F" "c");

    // The paths of the identifier tests: results, pins and groups on drives, shares and long-path forms.
    const wchar_t* paths[] = {
        L"C:\\Photos\\IMG_1.jpg", L"C:/Photos/IMG_1.jpg", L"C:\\Photos\\", L"C:\\", L"C:", L"\\\\server\\share",
        L"\\\\server\\share\\doc.txt", L"\\\\?\\C:\\long\\x.txt", L"\\\\?\\UNC\\server\\share\\y", L"relative.txt",
        L"\\\\?\\UNC\\server", L"\\\\?\\UNC\\", L"\\\\?\\C:", L"\\\\", L"\\\\server", L"C:\\Pins\\Work\\\\report.lnk",
        L"\\\\.\\C:\\x", L"\\\\?\\UNC\\server\\share\\\\"};
    for (const wchar_t* path : paths)
    {
        for (const auto kind : {item_kind::search_result, item_kind::quick_pin, item_kind::quick_pins_group})
        {
            auto item = records.fresh(kind);
            set_field(item.path, path);
            if (kind == item_kind::quick_pin)
                set_field(item.link_path, path);
            records.write(item);
        }
    }
    // Every text field full to the end of its array, without a NUL; kinds past the last one.
    for (const std::uint8_t kind : {0, 4, 5, 6, 255})
    {
        auto item = records.fresh(item_kind::root);
        item.kind = kind;
        std::fill(std::begin(item.path), std::end(item.path), L'p');
        std::fill(std::begin(item.icon), std::end(item.icon), L'i');
        std::fill(std::begin(item.query), std::end(item.query), L'q');
        std::fill(std::begin(item.action_parameters), std::end(item.action_parameters), L'a');
        std::fill(std::begin(item.keywords), std::end(item.keywords), L'k');
        std::fill(std::begin(item.people), std::end(item.people), L'e');
        std::fill(std::begin(item.name), std::end(item.name), L'n');
        std::fill(std::begin(item.link_path), std::end(item.link_path), L'l');
        records.write(item);
    }
    return 0;
}
