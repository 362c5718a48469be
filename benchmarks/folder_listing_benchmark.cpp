// Listing through the folder objects as Explorer lists: EnumObjects, then Next in batches of 100 up to
// the end, the items kept until the listing is complete (the view keeps them). Each case against the work
// that no listing of it can avoid, measured in the same run:
// - the "Sortwell" root, default configuration, files unchanged: loading the three configuration files
//   alone (fresh settings objects, as an enumeration loads them);
// - a saved search whose 25,000 rows are in the search cache already: making the same 25,000 result
//   items alone (bound 1.2); and the process's peak working set after the listing against the peak after
//   the items alone (bound 1.15);
// - the "Quick pins" root and a group of 200 pins: the store's listings alone.
//
// The benchmark seeds the prefix's settings folder and Menuwright's published model, and removes what it
// wrote when it ends (the settings files then seed again from their defaults).

#include "benchmark_support.h"
#include "folder_support.h"

#include "menuwright_snapshot_writer/menuwright_snapshot_writer.h"
#include "base/raii.h"
#include "items/search_and_action_item_data.h"
#include "namespace/search_and_action_shell_folder.h"
#include "quick_pins/menuwright_model.h"
#include "quick_pins/quick_pins_store.h"
#include "quick_pins/shell_link.h"
#include "search/search_cache.h"
#include "settings/all_people_settings.h"
#include "settings/all_tags_settings.h"
#include "settings/namespace_settings.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace
{
using namespace folder_support;

constexpr int row_count = 25000;
constexpr wchar_t search_query[] = L"System.Kind = 'picture' AND System.DateModified >= DATEADD(DAY, -365, GETGMTDATE())";

volatile std::size_t sink;

// The better of `figure` and one round of `iterations` calls: rounds of the compared cases alternate, so
// that a busy spell of the shared machine hits them alike.
double best_of(double figure, auto&& body, int iterations = 1)
{
    return std::min(figure, benchmark_support::nanoseconds_per_call(body, iterations, 1));
}

bool root_listing()
{
    remove_configuration();
    const auto root = root_folder(false);
    const long long listed = root ? list_all(root.get()) : -1;
    if (listed <= 0)
    {
        std::printf("the Sortwell root lists nothing (%lld); nothing to measure\n", listed);
        return false;
    }
    auto load_alone = [] {
        namespace_settings::settings_file namespace_file(nullptr);
        all_tags_settings::settings_file tags(nullptr);
        all_people_settings::settings_file people(nullptr);
        sink = sink + namespace_file.load(false) + tags.load(false) + people.load(false);
    };
    double listing_ns = 1e300, load_ns = 1e300;
    for (int round = 0; round < 25; ++round)
    {
        listing_ns = best_of(listing_ns, [&] { sink = sink + list_all(root.get()); }, 20);
        load_ns = best_of(load_ns, load_alone, 20);
    }
    std::printf("Sortwell root: %lld organised folders\n", listed);
    benchmark_support::print_ratio("Sortwell root listing, default configuration", listing_ns,
                                   "loading the three configuration files alone", load_ns);
    return true;
}

// The files the rows name, kept in the prefix's temporary folder for later runs (search_benchmark
// makes and uses the same ones): under Wine, creating 25,000 files in one folder takes minutes.
std::vector<search_result_record> result_rows()
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    const auto folder = std::filesystem::path(temp) / L"velmora-search-benchmark-files";
    const auto marker = folder.parent_path() / (folder.filename().wstring() + L".complete");
    const bool made = GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (!made)
        std::filesystem::create_directories(folder);
    std::vector<search_result_record> rows;
    wchar_t name[32] = {};
    for (int i = 0; i < row_count; ++i)
    {
        swprintf(name, std::size(name), L"item-%05d.jpg", i);
        search_result_record row;
        row.path = (folder / name).wstring();
        row.type_text = L"JPEG image";
        row.rating = 75;
        row.keywords = {L"holiday", L"beach", L"family"};
        row.people = {L"Ann Lee", L"Bo"};
        if (!made)
            unique_hfile(CreateFileW(row.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        rows.push_back(std::move(row));
    }
    if (!made)
        unique_hfile(CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return rows;
}

// Makes sure the process's cache holds the finished rows of the query (they live 20 seconds), as a
// search that ran a moment ago leaves them.
void keep_cached(const std::vector<search_result_record>& rows)
{
    const auto key = search_cache_key(search_query);
    if (process_search_cache().lookup(key).must_search)
        process_search_cache().store(key, rows);
}

bool cached_search_listing()
{
    write_saved_search(search_query);
    const auto started = GetTickCount64();
    const auto rows = result_rows();
    std::printf("result files ready in %.1f s\n", (GetTickCount64() - started) / 1000.0);
    const auto root = root_folder(false);
    const auto search = root ? bound_folder(root.get(), L"Pictures\\This year") : com_ptr<IShellFolder>();
    if (!search)
    {
        std::printf("the saved search cannot be bound; nothing to measure\n");
        return false;
    }
    keep_cached(rows);
    // Probe the volume outside the timing.
    sink = sink + create_result_items(rows).size();

    // The peak working set only grows: the items alone come first, then the listing, and each peak is
    // read right after its first round.
    long long listed = 0;
    std::size_t made = 0;
    double listing_ns = 1e300, items_ns = 1e300;
    items_ns = best_of(items_ns, [&] { made = create_result_items(rows).size(); });
    const double items_peak = peak_working_set_mib();
    keep_cached(rows);
    listing_ns = best_of(listing_ns, [&] { listed = list_all(search.get()); });
    const double listing_peak = peak_working_set_mib();
    for (int round = 0; round < 4; ++round)
    {
        items_ns = best_of(items_ns, [&] { made = create_result_items(rows).size(); });
        keep_cached(rows);
        listing_ns = best_of(listing_ns, [&] { listed = list_all(search.get()); });
    }
    // Where the listing's time goes beyond the items: the records copied out of the cache.
    double lookup_ns = 1e300;
    for (int round = 0; round < 3; ++round)
    {
        // A cache of its own, so that the entry is fresh for every round.
        search_cache cache;
        const auto key = search_cache_key(search_query);
        cache.lookup(key);
        cache.store(key, rows);
        lookup_ns = best_of(lookup_ns, [&] { sink = sink + cache.lookup(key).records.size(); });
    }
    std::printf("saved search: %lld items listed, %zu made alone\n", listed, made);
    benchmark_support::print_ratio("saved search listing, 25,000 cached rows", listing_ns,
                                   "making the 25,000 result items alone", items_ns);
    std::printf("per row: listing %.0f ns, items alone %.0f ns\n", listing_ns / row_count, items_ns / row_count);
    std::printf("peak working set: %.1f MiB after the items alone, %.1f MiB after the listing, ratio %.2f\n",
                items_peak, listing_peak, listing_peak / items_peak);
    std::printf("of which: records copied out of the cache %.1f ms\n", lookup_ns / 1e6);
    remove_configuration();
    return listed == row_count && made == static_cast<std::size_t>(row_count);
}

bool quick_pins_listing()
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    const auto base = std::filesystem::path(temp) / L"velmora-folder-benchmark-pins";
    std::error_code ec;
    std::filesystem::remove_all(base, ec);
    const auto targets = base / L"targets";
    const auto work = base / L"Work";
    const auto home = base / L"Home";
    for (const auto& folder : {targets, work, home})
        std::filesystem::create_directories(folder);
    // Numbered pins, as users order them, so that the sort has real work.
    for (int i = 1; i <= 200; ++i)
    {
        const auto target = targets / (L"Document " + std::to_wstring(i) + L".txt");
        std::ofstream(target) << "x";
        if (!write_shortcut((work / (std::to_wstring(201 - i) + L". Document " + std::to_wstring(i) + L".txt.lnk")).wstring(),
                            target.wstring()))
            return false;
    }
    const auto published = menuwright_data_folder() / L"published";
    std::filesystem::create_directories(published);
    menuwright_writer::snapshot_builder model;
    model.add_quick_pins_group(u"Work", std::u16string(work.u16string()));
    model.add_quick_pins_group(u"Home", std::u16string(home.u16string()));
    auto write_bytes = [](const std::filesystem::path& file, const std::vector<std::byte>& bytes) {
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    };
    write_bytes(published / std::string(menuwright_writer::control_file_name), menuwright_writer::control_file(1));
    write_bytes(published / menuwright_writer::snapshot_file_name(1), model.build());

    const auto root = root_folder(true);
    const auto group = root ? bound_folder(root.get(), L"Work") : com_ptr<IShellFolder>();
    const long long root_listed = root ? list_all(root.get()) : -1;
    const long long group_listed = group ? list_all(group.get()) : -1;
    bool complete = root_listed == 2 && group_listed == 200 && list_root_entries().size() == 2 &&
                    list_group_entries(work.wstring()).size() == 200;
    if (complete)
    {
        double root_ns = 1e300, root_alone_ns = 1e300, group_ns = 1e300, group_alone_ns = 1e300;
        for (int round = 0; round < 25; ++round)
        {
            root_ns = best_of(root_ns, [&] { sink = sink + list_all(root.get()); }, 20);
            root_alone_ns = best_of(root_alone_ns, [&] { sink = sink + list_root_entries().size(); }, 20);
            group_ns = best_of(group_ns, [&] { sink = sink + list_all(group.get()); }, 2);
            group_alone_ns = best_of(group_alone_ns, [&] { sink = sink + list_group_entries(work.wstring()).size(); }, 2);
        }
        // What the root's listing adds to the store's: one identifier per group (with its folder's
        // attributes read again for the stamp) and its copy for Next.
        double pin_items_ns = 1e300, stamps_ns = 1e300;
        const auto entries = list_root_entries();
        for (int round = 0; round < 9; ++round)
        {
            pin_items_ns = best_of(pin_items_ns, [&] {
                std::vector<unique_child_id> items, clones;
                for (std::size_t i = 0; i < entries.size(); ++i)
                    items.push_back(create_pin_item(entries[i], i));
                for (const auto& item : items)
                    clones.emplace_back(static_cast<PITEMID_CHILD>(ILClone(item.get())));
                sink = sink + clones.size();
            }, 20);
            stamps_ns = best_of(stamps_ns, [&] {
                WIN32_FILE_ATTRIBUTE_DATA data{};
                for (const auto& entry : entries)
                    sink = sink + GetFileAttributesExW(entry.link_path.c_str(), GetFileExInfoStandard, &data);
            }, 20);
        }
        benchmark_support::print_ratio("Quick pins root listing, 2 groups", root_ns, "list_root_entries alone",
                                       root_alone_ns);
        std::printf("of which: the 2 group identifiers (stamps included) and their copies %.1f us; the attribute "
                    "reads for the stamps alone %.1f us\n", pin_items_ns / 1e3, stamps_ns / 1e3);
        benchmark_support::print_ratio("Quick pins group listing, 200 pins", group_ns, "list_group_entries alone",
                                       group_alone_ns);
    }
    else
        std::printf("the Quick pins root lists %lld and the group %lld entries, not 2 and 200\n", root_listed, group_listed);
    std::filesystem::remove_all(published, ec);
    std::filesystem::remove_all(base, ec);
    return complete;
}
} // namespace

int main()
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    bool complete = root_listing();
    complete = cached_search_listing() && complete;
    complete = quick_pins_listing() && complete;
    remove_configuration();
    CoUninitialize();
    return complete ? 0 : 1;
}
