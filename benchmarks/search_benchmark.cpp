// A saved search of 25,000 files, the most the query asks for: run_search reading every row into its
// records, then the result items made from them (the recycle-bin check, the volume guard and one
// attribute read per file), against the search stand-in producing the same rows alone: the same
// statement and the same OLE DB calls, one row per GetNextRows into the same row buffer, with nothing of
// ours around them. The files exist, so every row becomes an item.
//
// Then the same search listed through the folder as Explorer's view lists it, never cached (each round
// a query of its own): EnumObjects, Next(100) to the end, the items kept. The time to the first 100
// items against the whole listing (before, the first items came only with the last) and against
// run_search alone; and the whole listing against the stand-in alone,
// next to the work the listing did before its rows streamed (run_search, the cache's copy, the result
// items, a copy of each for Next), measured in the same run.
//
// The stand-in is registered in the prefix by the benchmark itself (its DLL lies beside this program).

#include "benchmark_support.h"
#include "folder_support.h"

#include "base/raii.h"
#include "items/search_and_action_item_data.h"
#include "search/search_api.h"
#include "search/search_cache.h"
#include "search/search_query.h"
#include "search_standin_counters.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace
{
constexpr int row_count = 25000;
volatile std::size_t sink_rows;

std::filesystem::path executable_folder()
{
    wchar_t path[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    return std::filesystem::path(path).parent_path();
}

bool register_standin()
{
    HMODULE dll = LoadLibraryW((executable_folder() / search_standin_dll_name).c_str());
    if (!dll)
        return false;
    auto register_server = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllRegisterServer")));
    return register_server && SUCCEEDED(register_server());
}

std::string json_text(const std::wstring& text)
{
    std::string result;
    for (wchar_t c : text)
    {
        if (c == L'\\' || c == L'"')
            result += '\\';
        result += static_cast<char>(c);  // the temporary folder's path is ASCII in the prefix
    }
    return result;
}

// The generated index names item-00000.jpg ... item-24999.jpg in `folder`; make them real files. Wine
// looks through the whole folder for a name differing only in case before it creates a file, so this
// takes minutes; the files are kept in the prefix's temporary folder for the next run.
void make_files(const std::filesystem::path& folder)
{
    const auto marker = folder.parent_path() / (folder.filename().wstring() + L".complete");
    if (GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES)
        return;
    std::filesystem::create_directories(folder);
    wchar_t name[32] = {};
    for (int i = 0; i < row_count; ++i)
    {
        swprintf(name, std::size(name), L"item-%05d.jpg", i);
        unique_hfile file(CreateFileW((folder / name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    unique_hfile(CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// What a result item cannot do without, for every row: the attribute read and, when `allocate`, the
// zeroed 12066-byte identifier from the task allocator, kept until all are made as the items are.
std::size_t bare_items(const std::vector<search_result_record>& rows, bool allocate)
{
    std::size_t found = 0;
    std::vector<unique_cotaskmem<void>> memory;
    memory.reserve(allocate ? rows.size() : 0);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    for (const auto& row : rows)
    {
        found += GetFileAttributesExW(row.path.c_str(), GetFileExInfoStandard, &data) != FALSE;
        if (allocate)
        {
            memory.emplace_back(CoTaskMemAlloc(item_id_list_size));
            if (memory.back())
                std::memset(memory.back().get(), 0, item_id_list_size);
        }
    }
    return found;
}

std::wstring generate_sql(const std::wstring& query = L"")
{
    com_ptr<ISearchManager> manager;
    com_ptr<ISearchCatalogManager> catalog;
    com_ptr<ISearchQueryHelper> helper;
    unique_cotaskmem_string sql;
    if (FAILED(CoCreateInstance(CLSID_CSearchManager, nullptr, CLSCTX_ALL, IID_ISearchManager, manager.put_void())) ||
        FAILED(manager->GetCatalog(search_system_index_catalog, catalog.put())) ||
        FAILED(catalog->GetQueryHelper(helper.put())))
        return {};
    helper->put_QueryMaxResults(search_max_results);
    helper->put_QuerySelectColumns(search_select_columns);
    helper->put_QuerySorting(search_sorting);
    helper->put_QueryWhereRestrictions(search_where_restrictions(L"*", query, L"").c_str());
    if (FAILED(helper->GenerateSQLFromUserQuery(L"*", sql.put())))
        return {};
    return sql.get();
}

DBBINDING binding(DBORDINAL ordinal, DBTYPE type, DBBYTEOFFSET value, DBLENGTH length, DBBYTEOFFSET status = 0)
{
    DBBINDING result{};
    result.iOrdinal = ordinal;
    result.obValue = value;
    result.obStatus = status;
    result.dwPart = DBPART_VALUE | (status ? DBPART_STATUS : 0);
    result.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
    result.eParamIO = DBPARAMIO_NOTPARAM;
    result.cbMaxLen = length;
    result.wType = type;
    return result;
}

// The provider alone: every row fetched and copied into the row buffer, its VARIANTs freed, nothing kept.
// `first_row_ns`, when given, receives the time from the statement to the first row.
int read_rows_alone(const std::wstring& sql, double* first_row_ns = nullptr)
{
    LARGE_INTEGER frequency{}, start{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    CLSID provider{};
    com_ptr<IDBInitialize> data_source;
    com_ptr<IDBCreateSession> create_session;
    com_ptr<IDBCreateCommand> session;
    com_ptr<ICommandText> command;
    com_ptr<IRowset> rowset;
    if (FAILED(CLSIDFromProgID(search_provider_prog_id, &provider)) ||
        FAILED(CoCreateInstance(provider, nullptr, CLSCTX_ALL, IID_IDBInitialize, data_source.put_void())) ||
        FAILED(data_source->Initialize()) ||
        FAILED(data_source->QueryInterface(IID_IDBCreateSession, create_session.put_void())) ||
        FAILED(create_session->CreateSession(nullptr, IID_IDBCreateCommand, reinterpret_cast<IUnknown**>(session.put()))) ||
        FAILED(session->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.put()))) ||
        FAILED(command->SetCommandText(DBGUID_DEFAULT, sql.c_str())) ||
        FAILED(command->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(rowset.put()))))
        return -1;
    auto accessor = rowset.try_query<IAccessor>();
    const DBBINDING bindings[] = {
        binding(1, DBTYPE_WSTR, 512, 520),       binding(2, DBTYPE_I8, 1032, 8),
        binding(4, DBTYPE_WSTR, 0, 512),         binding(5, DBTYPE_FILETIME, 1040, 8),
        binding(9, DBTYPE_VARIANT, 1064, 24, 1056), binding(10, DBTYPE_I4, 1052, 4, 1048),
        binding(11, DBTYPE_VARIANT, 1096, 24, 1088),
    };
    HACCESSOR handle = DB_NULL_HACCESSOR;
    if (!accessor || FAILED(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 7, bindings, 1120, &handle, nullptr)))
        return -1;
    int rows = 0;
    alignas(8) BYTE buffer[1120];
    for (;;)
    {
        HROW row = DB_NULL_HROW;
        HROW* rows_out = &row;
        DBCOUNTITEM obtained = 0;
        if (FAILED(rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &rows_out)) || obtained == 0)
            break;
        std::memset(buffer, 0, sizeof(buffer));
        rowset->GetData(row, handle, buffer);
        VariantClear(reinterpret_cast<VARIANT*>(buffer + 1064));
        VariantClear(reinterpret_cast<VARIANT*>(buffer + 1096));
        rowset->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
        if (++rows == 1 && first_row_ns)
        {
            LARGE_INTEGER now{};
            QueryPerformanceCounter(&now);
            *first_row_ns = static_cast<double>(now.QuadPart - start.QuadPart) * 1e9 / frequency.QuadPart;
        }
    }
    accessor->ReleaseAccessor(handle, nullptr);
    return rows;
}

struct memory_figures
{
    double working_set_mib;
    double pagefile_mib;
};

memory_figures peak_memory()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return {counters.PeakWorkingSetSize / 1048576.0, counters.PeakPagefileUsage / 1048576.0};
}
double seconds_since(const LARGE_INTEGER& start)
{
    LARGE_INTEGER now{}, frequency{};
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) / frequency.QuadPart;
}

// A query that selects every generated file and that no cache has seen: each round asks its own.
std::wstring uncached_query(int round)
{
    return L"System.Size > 0 AND System.Size <> " + std::to_wstring(1'000'000'000 + round);
}

bool uncached_listing(const std::filesystem::path& folder)
{
    using namespace folder_support;
    write_saved_search(uncached_query(0));
    const auto root = root_folder(false);
    const auto search = root ? bound_folder(root.get(), L"Pictures\\This year") : com_ptr<IShellFolder>();
    if (!search)
    {
        std::printf("the saved search cannot be bound; nothing to measure\n");
        return false;
    }
    is_volume_responsive(folder.wstring());
    constexpr int rounds = 7;
    std::vector<double> first_s, listing_s, search_s, before_s, alone_s, alone_first_s;
    long long listed = 0, before_items = 0;
    for (int round = 1; round <= rounds; ++round)
    {
        const auto query = uncached_query(round);
        double first_row_ns = 0;
        LARGE_INTEGER start{};
        QueryPerformanceCounter(&start);
        read_rows_alone(generate_sql(query), &first_row_ns);
        alone_s.push_back(seconds_since(start));
        alone_first_s.push_back(first_row_ns / 1e9);

        QueryPerformanceCounter(&start);
        sink_rows = run_search(L"*", query, L"").size();
        search_s.push_back(seconds_since(start));

        // What the listing did before: the search thread ran the query, stored a copy in the cache and
        // made the result items, and Next handed out a copy of each while the enumerator kept its own.
        {
            search_cache cache;
            QueryPerformanceCounter(&start);
            auto claim = cache.lookup(query);
            const auto records = run_search(L"*", query, L"");
            cache.store(query, records);
            const auto items = create_result_items(records);
            std::vector<unique_child_id> copies;
            copies.reserve(items.size());
            for (const auto& item : items)
                copies.emplace_back(static_cast<PITEMID_CHILD>(ILClone(item.get())));
            before_s.push_back(seconds_since(start));
            before_items = static_cast<long long>(copies.size());
        }

        write_saved_search(query);
        double first = 0;
        QueryPerformanceCounter(&start);
        listed = list_all(search.get(), [&] { first = seconds_since(start); });
        listing_s.push_back(seconds_since(start));
        first_s.push_back(first);
    }
    remove_configuration();

    auto best = [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); };
    auto worst = [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); };
    auto ratios = [](const std::vector<double>& a, const std::vector<double>& b) {
        std::vector<double> r;
        for (std::size_t i = 0; i < a.size(); ++i)
            r.push_back(a[i] / b[i]);
        std::sort(r.begin(), r.end());
        return r;
    };
    const auto first_ratio = ratios(first_s, listing_s);
    const auto first_search_ratio = ratios(first_s, search_s);
    const auto listing_ratio = ratios(listing_s, alone_s);
    const auto before_ratio = ratios(before_s, alone_s);
    const auto against_before = ratios(listing_s, before_s);
    std::printf("uncached listing through the folder: %lld items (before: %lld), %d rounds, each its own query\n",
                listed, before_items, rounds);
    std::printf("first 100 items (EnumObjects, Next(100)): %.1f-%.1f ms; against the whole listing %.3f-%.3f, "
                "median %.3f; against run_search alone (%.0f-%.0f ms) %.2f-%.2f, median %.2f; the stand-in's own "
                "first row comes after %.1f-%.1f ms (it evaluates and sorts the whole query first)\n",
                best(first_s) * 1e3, worst(first_s) * 1e3, first_ratio.front(), first_ratio.back(),
                first_ratio[first_ratio.size() / 2], best(search_s) * 1e3, worst(search_s) * 1e3,
                first_search_ratio.front(), first_search_ratio.back(),
                first_search_ratio[first_search_ratio.size() / 2], best(alone_first_s) * 1e3,
                worst(alone_first_s) * 1e3);
    std::printf("whole listing: %.0f-%.0f ms; the stand-in alone %.0f-%.0f ms; ratio %.2f-%.2f, median %.2f\n",
                best(listing_s) * 1e3, worst(listing_s) * 1e3, best(alone_s) * 1e3, worst(alone_s) * 1e3,
                listing_ratio.front(), listing_ratio.back(), listing_ratio[listing_ratio.size() / 2]);
    std::printf("the listing's work before streaming: %.0f-%.0f ms; against the stand-in alone %.2f-%.2f, median %.2f\n",
                best(before_s) * 1e3, worst(before_s) * 1e3, before_ratio.front(), before_ratio.back(),
                before_ratio[before_ratio.size() / 2]);
    std::printf("whole listing against the work before, same round: %.2f-%.2f, median %.2f\n", against_before.front(),
                against_before.back(), against_before[against_before.size() / 2]);
    return listed == row_count && before_items == row_count;
}
} // namespace

int main()
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 1;
    if (!register_standin())
    {
        std::printf("search_benchmark: the search stand-in could not be registered\n");
        return 1;
    }
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    const auto folder = std::filesystem::path(temp) / L"velmora-search-benchmark-files";
    const auto index = std::filesystem::path(temp) /
                       (L"velmora-search-benchmark-" + std::to_wstring(GetCurrentProcessId()) + L".json");
    const auto files_started = GetTickCount64();
    make_files(folder);
    std::printf("made %d files in %.1f s\n", row_count, (GetTickCount64() - files_started) / 1000.0);
    {
        std::ofstream file(index, std::ios::binary | std::ios::trunc);
        file << R"({"generate": {"count": )" << row_count << R"(, "folder": ")" << json_text(folder.wstring())
             << R"(", "keywords": ["holiday", "beach", "family"], "people": ["Ann Lee", "Bo"]}})";
    }
    SetEnvironmentVariableW(search_standin_index_variable, index.c_str());
    // Make the volume guard probe the drive now, outside the timing.
    is_volume_responsive(folder.wstring());

    // The baseline pays for the statement as run_search does: the stand-in's search manager reads its
    // index when it is created, which the real service does not, and that cost is not ours.
    int baseline_rows = 0;
    std::size_t records = 0, items = 0, attributes_found = 0;
    baseline_rows = read_rows_alone(generate_sql());
    const auto baseline_memory = peak_memory();
    const auto rows = run_search(L"*", L"", L"");
    // The machine is shared: each round times every case once, so that a busy spell hits them alike, and
    // each case keeps its best round.
    double baseline_ns = 1e300, search_ns = 1e300, product_ns = 1e300, items_ns = 1e300, attributes_ns = 1e300,
           bare_ns = 1e300;
    memory_figures product_memory{};
    for (int round = 0; round < 5; ++round)
    {
        auto best = [](double& figure, auto&& body) {
            figure = std::min(figure, benchmark_support::nanoseconds_per_call(body, 1, 1));
        };
        best(baseline_ns, [&] { baseline_rows = read_rows_alone(generate_sql()); });
        best(search_ns, [&] { records = run_search(L"*", L"", L"").size(); });
        best(product_ns, [&] {
            const auto found = run_search(L"*", L"", L"");
            records = found.size();
            items = create_result_items(found).size();
        });
        if (round == 0)
            product_memory = peak_memory();
        best(items_ns, [&] { items = create_result_items(rows).size(); });
        best(attributes_ns, [&] { attributes_found = bare_items(rows, false); });
        best(bare_ns, [&] { bare_items(rows, true); });
    }

    std::printf("rows: stand-in alone %d, run_search %zu, result items %zu\n", baseline_rows, records, items);
    benchmark_support::print_ratio("run_search, 25,000 rows", search_ns, "the same OLE DB reads alone", baseline_ns);
    benchmark_support::print_ratio("run_search and result items, 25,000 rows", product_ns,
                                   "the same OLE DB reads alone", baseline_ns);
    benchmark_support::print_ratio("result items of 25,000 rows", items_ns, "GetFileAttributesExW of each path",
                                   attributes_ns);
    benchmark_support::print_ratio("result items of 25,000 rows", items_ns, "the same and a zeroed 12066-byte block",
                                   bare_ns);
    std::printf("per row: stand-in alone %.0f ns, run_search %.0f ns, run_search and items %.0f ns, items %.0f ns, "
                "attributes alone %.0f ns, attributes and block %.0f ns\n",
                baseline_ns / row_count, search_ns / row_count, product_ns / row_count, items_ns / row_count,
                attributes_ns / row_count, bare_ns / row_count);
    std::printf("peak working set: %.1f MiB after the stand-in alone, %.1f MiB after the product\n",
                baseline_memory.working_set_mib, product_memory.working_set_mib);
    std::printf("peak pagefile usage: %.1f MiB after the stand-in alone, %.1f MiB after the product\n",
                baseline_memory.pagefile_mib, product_memory.pagefile_mib);

    const bool listed = uncached_listing(folder);

    SetEnvironmentVariableW(search_standin_index_variable, nullptr);
    std::error_code ec;
    std::filesystem::remove(index, ec);
    CoUninitialize();
    const bool complete = baseline_rows == row_count && records == row_count && items == row_count &&
                          attributes_found == row_count;
    if (!complete)
        std::printf("search_benchmark: expected %d rows and items everywhere\n", row_count);
    return complete && listed ? 0 : 1;
}
