#pragma once
// The stand-in's index: the files it knows with their properties, the columns a query may name, and
// the faults it injects. Read from one JSON file (README.md describes the format) each time a search
// manager or a data source is created, so a test changes the index by rewriting the file.

#include <windows.h>
#include <oledb.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace search_standin
{
// FILETIME ticks (100 ns since 1601, UTC).
struct date_value
{
    std::int64_t ticks = 0;
    friend bool operator==(const date_value&, const date_value&) = default;
};

using text_list = std::vector<std::wstring>;

// One property value of one item. monostate is the missing value (status DBSTATUS_S_ISNULL).
using value = std::variant<std::monostate, std::wstring, std::int64_t, double, date_value, text_list>;

// What a column declares: decides the conversions an accessor may ask for and the VARIANT type.
enum class column_type
{
    text,
    integer,
    date,
    text_list,
};

struct column_info
{
    std::wstring name;
    column_type type = column_type::text;
    VARTYPE variant_type = VT_BSTR;  // of integer columns: VT_UI8, VT_UI4, VT_I4 or VT_I8
};

// The fixed columns, in the order of an item's values; extra columns follow.
enum fixed_column : std::size_t
{
    column_path,           // System.ItemPathDisplay, also "Path"
    column_url,            // System.ItemUrl, "file:///C:/dir/a.txt"
    column_name,           // System.ItemNameDisplay, System.ItemName, System.FileName
    column_extension,      // System.FileExtension, System.ItemType (".txt")
    column_folder,         // System.ItemFolderPathDisplay
    column_type_text,      // System.ItemTypeText
    column_size,           // System.Size
    column_date_created,   // System.DateCreated
    column_date_modified,  // System.DateModified
    column_date_accessed,  // System.DateAccessed
    column_keywords,       // System.Keywords
    column_people,         // System.Photo.PeopleNames
    column_rating,         // System.Rating
    column_rank,           // System.Search.Rank
    column_attributes,     // System.FileAttributes
    column_contents,       // System.Search.Contents (what CONTAINS without a column searches)
    fixed_column_count,
};

struct index_item
{
    std::vector<value> values;  // one per column
    std::wstring path_lower;    // lower-case, backslashes: what SCOPE and DIRECTORY compare
    std::wstring folder_lower;
};

// The faults of one index: a method name and the HRESULT it answers, optionally after some
// successful calls; or a slow method, which waits (a delay, or until a gate the test opens) and then
// works or fails. Counted per loaded index, that is per created search manager or data source.
class fault_plan
{
public:
    struct fault
    {
        // S_OK: the step works once it has waited.
        HRESULT result = E_FAIL;
        unsigned after = 0;
        unsigned calls = 0;
        DWORD delay_ms = 0;
        // A named manual-reset event, made when the index is loaded; a call waits until it is set (at
        // most `gate_limit_ms`, so that a test that never opens it cannot hang).
        std::shared_ptr<void> gate;
    };
    static constexpr DWORD gate_limit_ms = 60000;

    // The names a "faults" member may use.
    static const std::vector<std::string>& step_names();

    void add(const std::string& step, fault f);
    void add(const std::string& step, HRESULT result, unsigned after);
    // S_OK, or the HRESULT to answer instead of doing the step; waits first when the step is slow.
    HRESULT check(std::string_view step) noexcept;

private:
    std::mutex mutex_;
    std::map<std::string, fault, std::less<>> faults_;
};

class index_data
{
public:
    std::vector<column_info> columns;
    std::vector<index_item> items;
    fault_plan faults;

    // The column a query names (case-insensitive, aliases included); nullopt when unknown.
    std::optional<std::size_t> find_column(std::wstring_view name) const;
    // The column whose property key is fmtid/pid; nullopt when none.
    std::optional<std::size_t> find_column(const GUID& fmtid, DWORD pid) const;

    const value& item_value(std::size_t item, std::size_t column) const { return items[item].values[column]; }

    // Makes name (any case) refer to column.
    void add_name(std::wstring_view name, std::size_t column);

private:
    std::map<std::wstring, std::size_t, std::less<>> names_;  // lower-case name -> column
};

class index_error : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The index file named by %VELMORA_SEARCH_INDEX%, else by the registry value "IndexFile" under
// HKCU\Software\Velmora Search Stand-in; empty when neither is set.
std::wstring configured_index_file();

// Reads the configured index; an empty index when none is configured. Throws index_error when the file
// cannot be read or is not a valid index.
std::shared_ptr<index_data> load_configured_index();
// The configured index for an object about to be created. A broken index file answers
// ERROR_INVALID_DATA, with its reason in the error object of `source` and on the debugger; a fault
// injected for `step` answers its own HRESULT.
HRESULT load_index_for_creation(const IID& source, const char* step, std::shared_ptr<index_data>& index);
// Reads an index from JSON text (UTF-8).
std::shared_ptr<index_data> load_index_text(std::string_view json);

// Helpers the query code shares.
std::wstring lower(std::wstring_view text);
// "2024/05/01 10:00:00", "2024-05-01 10:00:00", "2024-05-01T10:00:00" or "2024-05-01" (UTC).
std::optional<date_value> parse_date(std::wstring_view text);
std::wstring format_date(date_value date);
} // namespace search_standin
