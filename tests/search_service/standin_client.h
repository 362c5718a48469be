#pragma once
// Drives the registered search stand-in through COM the way the product's search code does: the search
// manager, the "SystemIndex" catalog and its query helper for the statement, then the OLE DB provider
// "Search.CollatorDSO" for the rows, read through one accessor into a 1120-byte row buffer.

#include "module/raii.h"
#include "search/search_api.h"
#include "search_standin_counters.h"

#include <windows.h>
#include <oledb.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace search_service_test
{
// An index file in a scratch folder, named by VELMORA_SEARCH_INDEX for this process while it lives.
class index_file
{
public:
    explicit index_file(const std::string& json);
    ~index_file();
    index_file(const index_file&) = delete;
    index_file& operator=(const index_file&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A JSON string literal (quotes included) for UTF-16 text.
std::string json_string(std::wstring_view text);

// What the product keeps of one row, plus what the reader saw on the way.
struct product_record
{
    std::wstring path;
    ULONGLONG size = 0;
    FILETIME date_created{};
    ULONG rating = 0;
    std::wstring type_text;
    std::vector<std::wstring> keywords;
    std::vector<std::wstring> people;

    HRESULT get_data = S_OK;
    DBSTATUS keywords_status = 0, rating_status = 0, people_status = 0;
    VARTYPE keywords_type = VT_EMPTY, people_type = VT_EMPTY;
};

struct product_run
{
    std::vector<product_record> records;
    std::wstring sql;
    std::string failed_step;  // empty when no step failed
    HRESULT result = S_OK;    // of the failed step
    DBBINDSTATUS bind_status[7] = {};
};

// The statement the product builds for a configured query (pattern "*", no keyword filter).
std::wstring product_where_restrictions(std::wstring_view query);
inline constexpr wchar_t product_select_columns[] =
    L"System.ItemPathDisplay, System.Size, System.ItemType, System.ItemTypeText, System.DateCreated, Path, "
    L"System.ItemPathDisplay, System.ItemNameDisplay, System.Keywords, System.Rating, System.Photo.PeopleNames";
inline constexpr wchar_t product_sorting[] = L"System.Search.Rank DESC, System.DateModified DESC, System.ItemNameDisplay ASC";

// Runs a configured query end to end as the product does; stops at the first failing step.
product_run run_like_product(std::wstring_view query);

// A rowset for a statement, through data source, session and command; null with *result set on failure.
com_ptr<IRowset> open_rowset(std::wstring_view sql, HRESULT* result);

// The first column of every row as text (through a DBTYPE_WSTR binding), or the failing HRESULT.
struct statement_result
{
    HRESULT result = S_OK;
    std::vector<std::wstring> values;
};
statement_result run_statement(std::wstring_view sql);

// The stand-in's exported counters and its DllCanUnloadNow (the DLL must be loaded).
search_standin_counters standin_counters();
HRESULT standin_can_unload_now();

// Reads a multi-valued column as the product does: empty unless the status is OK; one entry for a
// non-empty BSTR; every non-empty element of a BSTR array; nothing for any other type.
std::vector<std::wstring> read_multi_valued(DBSTATUS status, const VARIANT& value);
} // namespace search_service_test
