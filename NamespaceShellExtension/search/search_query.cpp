#include "search/search_query.h"

#include "base/raii.h"
#include "search/search_api.h"

#include <oleauto.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace
{
// The row buffer the accessor fills. The offsets are the provider contract of the bindings below; the
// two VARIANTs need their 8-byte alignment, which the buffer's own alignment and the offsets give.
struct alignas(8) row_buffer
{
    std::byte bytes[1120];
};
constexpr DBBYTEOFFSET type_text_offset = 0;
constexpr DBLENGTH type_text_bytes = 512;
constexpr DBBYTEOFFSET path_offset = 512;
constexpr DBLENGTH path_bytes = 520;
constexpr DBBYTEOFFSET size_offset = 1032;
constexpr DBBYTEOFFSET date_created_offset = 1040;
constexpr DBBYTEOFFSET rating_status_offset = 1048;
constexpr DBBYTEOFFSET rating_offset = 1052;
constexpr DBBYTEOFFSET keywords_status_offset = 1056;
constexpr DBBYTEOFFSET keywords_offset = 1064;
constexpr DBBYTEOFFSET people_status_offset = 1088;
constexpr DBBYTEOFFSET people_offset = 1096;
static_assert(people_offset + sizeof(VARIANT) == sizeof(row_buffer));
static_assert(keywords_offset % alignof(VARIANT) == 0 && people_offset % alignof(VARIANT) == 0);

DBBINDING binding(DBORDINAL ordinal, DBTYPE type, DBBYTEOFFSET value, DBLENGTH length,
                  DBBYTEOFFSET status = static_cast<DBBYTEOFFSET>(-1))
{
    DBBINDING result{};
    result.iOrdinal = ordinal;
    result.obValue = value;
    result.dwPart = DBPART_VALUE;
    if (status != static_cast<DBBYTEOFFSET>(-1))
    {
        result.obStatus = status;
        result.dwPart |= DBPART_STATUS;
    }
    result.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
    result.eParamIO = DBPARAMIO_NOTPARAM;
    result.cbMaxLen = length;
    result.wType = type;
    return result;
}

// The ordinals count the select list from 1: 1 System.ItemPathDisplay, 2 System.Size, 4
// System.ItemTypeText, 5 System.DateCreated, 9 System.Keywords, 10 System.Rating, 11
// System.Photo.PeopleNames. The list repeats System.ItemPathDisplay (ordinal 7), which nothing reads.
const DBBINDING row_bindings[] = {
    binding(1, DBTYPE_WSTR, path_offset, path_bytes),
    binding(2, DBTYPE_I8, size_offset, 8),
    binding(4, DBTYPE_WSTR, type_text_offset, type_text_bytes),
    binding(5, DBTYPE_FILETIME, date_created_offset, 8),
    binding(9, DBTYPE_VARIANT, keywords_offset, sizeof(VARIANT), keywords_status_offset),
    binding(10, DBTYPE_I4, rating_offset, 4, rating_status_offset),
    binding(11, DBTYPE_VARIANT, people_offset, sizeof(VARIANT), people_status_offset),
};

template <class T>
T read_at(const row_buffer& row, DBBYTEOFFSET offset) noexcept
{
    T value;
    std::memcpy(&value, row.bytes + offset, sizeof(T));
    return value;
}

// A text column: up to its NUL, never beyond `max_characters` even when the provider left no NUL.
std::wstring read_text(const row_buffer& row, DBBYTEOFFSET offset, std::size_t max_characters)
{
    const auto* text = reinterpret_cast<const wchar_t*>(row.bytes + offset);
    std::size_t length = 0;
    while (length < max_characters && text[length] != L'\0')
        ++length;
    return std::wstring(text, length);
}

const VARIANT& variant_at(const row_buffer& row, DBBYTEOFFSET offset) noexcept
{
    return *reinterpret_cast<const VARIANT*>(row.bytes + offset);
}

// Clears the two VARIANTs the provider wrote into the row, also when building a record throws.
class row_variants
{
public:
    explicit row_variants(row_buffer& row) noexcept : row_(row) {}
    ~row_variants()
    {
        VariantClear(reinterpret_cast<VARIANT*>(row_.bytes + keywords_offset));
        VariantClear(reinterpret_cast<VARIANT*>(row_.bytes + people_offset));
    }
    row_variants(const row_variants&) = delete;
    row_variants& operator=(const row_variants&) = delete;

private:
    row_buffer& row_;
};

class held_row
{
public:
    held_row(IRowset* rowset, HROW row) noexcept : rowset_(rowset), row_(row) {}
    ~held_row() { rowset_->ReleaseRows(1, &row_, nullptr, nullptr, nullptr); }
    held_row(const held_row&) = delete;
    held_row& operator=(const held_row&) = delete;

private:
    IRowset* rowset_;
    HROW row_;
};

class held_accessor
{
public:
    held_accessor(IAccessor* accessor, HACCESSOR handle) noexcept : accessor_(accessor), handle_(handle) {}
    ~held_accessor() { accessor_->ReleaseAccessor(handle_, nullptr); }
    held_accessor(const held_accessor&) = delete;
    held_accessor& operator=(const held_accessor&) = delete;

private:
    IAccessor* accessor_;
    HACCESSOR handle_;
};

search_result_record read_record(const row_buffer& row)
{
    search_result_record record;
    // 260 units (519 bytes and the NUL) for the path, 256 for the type text.
    record.path = read_text(row, path_offset, path_bytes / sizeof(wchar_t) - 1);
    record.size = static_cast<std::uint64_t>(read_at<std::int64_t>(row, size_offset));
    record.date_created = read_at<FILETIME>(row, date_created_offset);
    if (read_at<DBSTATUS>(row, rating_status_offset) == DBSTATUS_S_OK)
        record.rating = static_cast<std::uint32_t>(read_at<std::int32_t>(row, rating_offset));
    record.type_text = read_text(row, type_text_offset, type_text_bytes / sizeof(wchar_t) - 1);
    record.keywords =
        read_multi_valued_column(read_at<DBSTATUS>(row, keywords_status_offset), variant_at(row, keywords_offset));
    record.people =
        read_multi_valued_column(read_at<DBSTATUS>(row, people_status_offset), variant_at(row, people_offset));
    return record;
}

// The SQL statement of the query, from the query helper of the system index.
unique_cotaskmem_string generate_sql(std::wstring_view name_pattern, std::wstring_view query,
                                     std::wstring_view keyword_filter)
{
    com_ptr<ISearchManager> manager;
    if (FAILED(CoCreateInstance(CLSID_CSearchManager, nullptr, CLSCTX_ALL, IID_ISearchManager, manager.put_void())) ||
        !manager)
        throw std::runtime_error("Failed to create ISearchManager instance.");
    com_ptr<ISearchCatalogManager> catalog;
    if (FAILED(manager->GetCatalog(search_system_index_catalog, catalog.put())) || !catalog)
        throw std::runtime_error("Failed to get SystemIndex catalog.");
    com_ptr<ISearchQueryHelper> helper;
    if (FAILED(catalog->GetQueryHelper(helper.put())) || !helper)
        throw std::runtime_error("Failed to get ISearchQueryHelper.");

    // A helper that refuses one of these still builds a statement, only a broader or unsorted one.
    helper->put_QueryMaxResults(search_max_results);
    helper->put_QuerySelectColumns(search_select_columns);
    helper->put_QuerySorting(search_sorting);

    const auto where = search_where_restrictions(name_pattern, query, keyword_filter);
    if (FAILED(helper->put_QueryWhereRestrictions(where.c_str())))
        throw std::runtime_error("Failed to set query where condition.");
    unique_cotaskmem_string sql;
    if (FAILED(helper->GenerateSQLFromUserQuery(L"*", sql.put())) || !sql)
        throw std::runtime_error("Failed to create SQL query.");
    return sql;
}
} // namespace

std::wstring search_where_restrictions(std::wstring_view name_pattern, std::wstring_view query,
                                       std::wstring_view keyword_filter)
{
    std::wstring where = L"AND scope='file:'";
    if (name_pattern != L"*")
    {
        std::wstring pattern(name_pattern);
        std::replace(pattern.begin(), pattern.end(), L'*', L'%');
        std::replace(pattern.begin(), pattern.end(), L'?', L'_');
        if (pattern.find_first_of(L"%_") != std::wstring::npos)
        {
            where += L" AND System.ItemPathDisplay LIKE '";
            where += pattern;
            where += L"' ";
        }
        else
        {
            where += L" AND Contains(System.ItemPathDisplay, '";
            where += pattern;
            where += L"')";
        }
    }
    if (!keyword_filter.empty())
    {
        where += L" AND CONTAINS(System.Keywords, '";
        where += keyword_filter;
        where += L"')";
    }
    if (!query.empty())
    {
        where += L" AND (";
        where += query;
        where += L") ";
    }
    return where;
}

std::vector<std::wstring> read_multi_valued_column(DBSTATUS status, const VARIANT& value)
{
    std::vector<std::wstring> values;
    if (status != DBSTATUS_S_OK)
        return values;
    if (value.vt == VT_BSTR)
    {
        if (value.bstrVal && SysStringLen(value.bstrVal) > 0)
            values.emplace_back(value.bstrVal, SysStringLen(value.bstrVal));
        return values;
    }
    if (value.vt != (VT_ARRAY | VT_BSTR) || !value.parray || SafeArrayGetDim(value.parray) != 1)
        return values;
    LONG lower = 0, upper = -1;
    if (FAILED(SafeArrayGetLBound(value.parray, 1, &lower)) || FAILED(SafeArrayGetUBound(value.parray, 1, &upper)))
        return values;
    BSTR* elements = nullptr;
    if (FAILED(SafeArrayAccessData(value.parray, reinterpret_cast<void**>(&elements))))
        return values;
    try
    {
        for (LONG i = lower; i <= upper; ++i)
        {
            const BSTR element = elements[i - lower];
            if (element && SysStringLen(element) > 0)
                values.emplace_back(element, SysStringLen(element));
        }
    }
    catch (...)
    {
        SafeArrayUnaccessData(value.parray);
        throw;
    }
    SafeArrayUnaccessData(value.parray);
    return values;
}

std::vector<search_result_record> run_search(std::wstring_view name_pattern, std::wstring_view query,
                                             std::wstring_view keyword_filter)
{
    std::vector<search_result_record> records;
    run_search(name_pattern, query, keyword_filter,
               [&](search_result_record&& record) { records.push_back(std::move(record)); });
    return records;
}

void run_search(std::wstring_view name_pattern, std::wstring_view query, std::wstring_view keyword_filter,
                const search_row_sink& on_row)
{
    const auto sql = generate_sql(name_pattern, query, keyword_filter);

    CLSID provider{};
    com_ptr<IDBInitialize> data_source;
    if (FAILED(CLSIDFromProgID(search_provider_prog_id, &provider)) ||
        FAILED(CoCreateInstance(provider, nullptr, CLSCTX_ALL, IID_IDBInitialize, data_source.put_void())) ||
        !data_source)
        throw std::runtime_error("Failed to create IDBInitialize instance.");
    if (FAILED(data_source->Initialize()))
        throw std::runtime_error("Failed to initialize IDBInitialize.");
    auto create_session = data_source.try_query<IDBCreateSession>();
    if (!create_session)
        throw std::runtime_error("Failed to get IDBCreateSession interface.");

    com_ptr<IDBCreateCommand> session;
    if (FAILED(create_session->CreateSession(nullptr, IID_IDBCreateCommand,
                                             reinterpret_cast<IUnknown**>(session.put()))) ||
        !session)
        return;
    com_ptr<ICommandText> command;
    if (FAILED(session->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.put()))) ||
        !command)
        return;
    if (FAILED(command->SetCommandText(DBGUID_DEFAULT, sql.get())))
        return;
    com_ptr<IRowset> rowset;
    if (FAILED(command->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(rowset.put()))) ||
        !rowset)
        return;

    auto accessor = rowset.try_query<IAccessor>();
    if (!accessor)
        throw std::runtime_error("Unable to get IID_IAccessor interface.");
    HACCESSOR accessor_handle = DB_NULL_HACCESSOR;
    DBBINDSTATUS bind_status[std::size(row_bindings)] = {};
    if (FAILED(accessor->CreateAccessor(DBACCESSOR_ROWDATA, std::size(row_bindings), row_bindings,
                                        sizeof(row_buffer), &accessor_handle, bind_status)))
        throw std::runtime_error("Unable to CreateAccessor.");
    const held_accessor accessor_guard(accessor.get(), accessor_handle);

    // One row per call: the index hands rows out as it finds them, and a failure costs only that row.
    row_buffer row;
    for (;;)
    {
        HROW handle = DB_NULL_HROW;
        HROW* handles = &handle;
        DBCOUNTITEM obtained = 0;
        const HRESULT fetched = rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &handles);
        if (FAILED(fetched) || obtained == 0)
            break;
        search_result_record record;
        {
            const held_row row_guard(rowset.get(), handle);
            std::memset(&row, 0, sizeof(row));
            const row_variants variants(row);
            if (FAILED(rowset->GetData(handle, accessor_handle, &row)))
                break;
            record = read_record(row);
        }
        // The row is given back before the caller takes the record: a caller that waits or fails holds
        // nothing of the provider's.
        on_row(std::move(record));
    }
}
