#pragma once
// Drives the registered search stand-in through COM: an index file for this process, a statement run
// through the OLE DB provider "Search.CollatorDSO" with the bindings a test chooses, and the stand-in's
// counters of the objects, rows and accessors a reader took and gave back.

#include "module/raii.h"
#include "search/search_api.h"
#include "search_standin_counters.h"

#include <windows.h>
#include <oledb.h>

#include <cstring>
#include <filesystem>
#include <span>
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

private:
    std::filesystem::path path_;
};

// A JSON string literal (quotes included) for UTF-16 text.
std::string json_string(std::wstring_view text);

// A client-owned binding of `ordinal`; a status part only when its offset is given.
DBBINDING binding(DBORDINAL ordinal, DBTYPE type, DBBYTEOFFSET value, DBLENGTH length, DBBYTEOFFSET status = 0);

// A rowset for a statement, through data source, session and command; null with *result set on failure.
com_ptr<IRowset> open_rowset(std::wstring_view sql, HRESULT* result);

struct fetched_row
{
    HRESULT get_data = S_OK;
    // The VARIANTs bound are cleared.
    std::vector<BYTE> bytes;

    template <class T>
    T at(std::size_t offset) const
    {
        T value{};
        std::memcpy(&value, bytes.data() + offset, sizeof(T));
        return value;
    }
    std::wstring text_at(std::size_t offset) const { return reinterpret_cast<const wchar_t*>(bytes.data() + offset); }
};

// Every row of a statement, read one at a time through one accessor into zeroed buffers of `row_size`
// bytes, each row released, or the HRESULT of the step that failed.
struct statement_result
{
    HRESULT result = S_OK;
    std::vector<fetched_row> rows;
};
statement_result fetch_rows(std::wstring_view sql, std::span<const DBBINDING> bindings, std::size_t row_size);
// The first column as text.
statement_result run_statement(std::wstring_view sql);

// The stand-in's exported counters and its DllCanUnloadNow (the DLL must be loaded).
search_standin_counters standin_counters();
HRESULT standin_can_unload_now();
} // namespace search_service_test
