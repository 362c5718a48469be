// Loading a large "Namespace.json" (100 organised folders of 100 saved searches each, about 5.4 MB)
// through load(), which reads the file, parses it and builds the UTF-16 records, against a bare RapidJSON
// parse of the same bytes already in memory. The folder code loads this file on every enumeration and
// every parse of a display name, so the records must cost little beyond the parse itself.

#include "benchmark_support.h"

#include "settings/namespace_settings.h"

#include <rapidjson/document.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace
{
std::string read_bytes(const std::wstring& path)
{
    std::ifstream stream(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

void fill(namespace_settings::settings_file& settings)
{
    settings.set_version(L"1.0");
    auto& folders = settings.folders();
    folders.clear();
    for (int f = 0; f < 100; ++f)
    {
        namespace_settings::folder_record folder;
        folder.name = L"Folder " + std::to_wstring(f);
        folder.order = f;
        folder.hint = L"Saved searches of group " + std::to_wstring(f);
        folder.icon = L"Content\\Icons\\Folder.ico";
        folder.enabled = true;
        for (int q = 0; q < 100; ++q)
        {
            const std::wstring index = std::to_wstring(f * 100 + q);
            namespace_settings::query_record query;
            query.name = L"$tags[" + index + L"].name";
            query.order = q;
            query.hint = L"Files that carry this tag. Drop files here to add it or take it off.";
            query.icon = L"$tags[" + index + L"].icon";
            query.query = L"System.Keywords = '$tags[" + index + L"].name' AND System.DateModified >= "
                          L"DATEADD(DAY, -30, GETGMTDATE())";
            query.action_type = L"toggle_tags";
            query.action_parameters = L"$tags[" + index + L"].name";
            query.enabled = q % 10 != 0;
            folder.queries.push_back(std::move(query));
        }
        folders.push_back(std::move(folder));
    }
}

volatile std::size_t sink;
} // namespace

int main()
{
    namespace_settings::settings_file writer(nullptr);
    const std::wstring path = writer.full_path();
    std::optional<std::string> previous;
    if (std::filesystem::exists(path))
        previous = read_bytes(path);

    fill(writer);
    writer.write();
    const std::string bytes = read_bytes(path);

    namespace_settings::settings_file settings(nullptr);
    bool loaded = settings.load(true) && settings.folders() == writer.folders();
    if (loaded)
    {
        const double load_ns = benchmark_support::nanoseconds_per_call(
            [&] { sink = sink + (settings.load(true) ? settings.folders().size() : 0); }, 10, 7);
        const double parse_ns = benchmark_support::nanoseconds_per_call(
            [&] {
                rapidjson::Document document;
                document.Parse(bytes.data(), bytes.size());
                sink = sink + (document.IsObject() ? document.MemberCount() : 0);
            },
            10, 7);
        char name[96];
        std::snprintf(name, sizeof name, "load Namespace.json, 100 x 100 (%.1f MB)", bytes.size() / 1e6);
        benchmark_support::print_ratio(name, load_ns, "RapidJSON parse of the bytes in memory", parse_ns);
    }
    else
        std::printf("load Namespace.json: the written file did not read back\n");

    if (previous)
    {
        std::ofstream stream(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
        stream.write(previous->data(), static_cast<std::streamsize>(previous->size()));
    }
    else
        std::filesystem::remove(path);
    return loaded ? 0 : 1;
}
