#include "standin_client.h"

#include "support/test_files.h"

#include <oledberr.h>
#include <oleauto.h>

#include <cstring>
#include <cwchar>

namespace search_service_test
{
namespace
{
std::string utf8(std::wstring_view text)
{
    if (text.empty())
        return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length, nullptr, nullptr);
    return result;
}

std::filesystem::path scratch_index_path()
{
    static int counter = 0;
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::filesystem::path(temp) /
           (L"velmora-search-index-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter) + L".json");
}

HMODULE standin_module()
{
    return GetModuleHandleW(search_standin_dll_name);
}

DBBINDING binding(DBORDINAL ordinal, DBTYPE type, DBBYTEOFFSET value, DBLENGTH length, DBBYTEOFFSET status)
{
    DBBINDING b{};
    b.iOrdinal = ordinal;
    b.obValue = value;
    b.obStatus = status;
    b.dwPart = DBPART_VALUE | (status ? DBPART_STATUS : 0);
    b.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
    b.eParamIO = DBPARAMIO_NOTPARAM;
    b.cbMaxLen = length;
    b.wType = type;
    return b;
}
} // namespace

index_file::index_file(const std::string& json) : path_(scratch_index_path())
{
    test_support::write_file(path_, json);
    SetEnvironmentVariableW(search_standin_index_variable, path_.c_str());
}

index_file::~index_file()
{
    SetEnvironmentVariableW(search_standin_index_variable, nullptr);
    std::error_code ec;
    std::filesystem::remove(path_, ec);
}

std::string json_string(std::wstring_view text)
{
    std::string result = "\"";
    for (char c : utf8(text))
    {
        if (c == '"' || c == '\\')
            result += '\\';
        result += c;
    }
    return result + "\"";
}

std::wstring product_where_restrictions(std::wstring_view query)
{
    std::wstring where = L"AND scope='file:'";
    if (!query.empty())
        where += L" AND (" + std::wstring(query) + L") ";
    return where;
}

std::vector<std::wstring> read_multi_valued(DBSTATUS status, const VARIANT& value)
{
    std::vector<std::wstring> result;
    if (status != DBSTATUS_S_OK)
        return result;
    if (value.vt == VT_BSTR)
    {
        if (value.bstrVal && SysStringLen(value.bstrVal) > 0)
            result.emplace_back(value.bstrVal, SysStringLen(value.bstrVal));
    }
    else if (value.vt == (VT_ARRAY | VT_BSTR) && value.parray)
    {
        LONG lower = 0, upper = -1;
        SafeArrayGetLBound(value.parray, 1, &lower);
        SafeArrayGetUBound(value.parray, 1, &upper);
        for (LONG i = lower; i <= upper; ++i)
        {
            BSTR element = nullptr;
            if (SUCCEEDED(SafeArrayGetElement(value.parray, &i, &element)) && element)
            {
                if (SysStringLen(element) > 0)
                    result.emplace_back(element, SysStringLen(element));
                SysFreeString(element);
            }
        }
    }
    return result;
}

product_run run_like_product(std::wstring_view query)
{
    product_run run;
    auto failed = [&](const char* step, HRESULT hr) {
        if (FAILED(hr))
        {
            run.failed_step = step;
            run.result = hr;
            return true;
        }
        return false;
    };

    com_ptr<ISearchManager> manager;
    if (failed("CreateSearchManager", CoCreateInstance(CLSID_CSearchManager, nullptr, CLSCTX_ALL, IID_ISearchManager, manager.put_void())))
        return run;
    com_ptr<ISearchCatalogManager> catalog;
    if (failed("GetCatalog", manager->GetCatalog(search_system_index_catalog, catalog.put())))
        return run;
    com_ptr<ISearchQueryHelper> helper;
    if (failed("GetQueryHelper", catalog->GetQueryHelper(helper.put())))
        return run;
    helper->put_QueryMaxResults(25000);
    helper->put_QuerySelectColumns(product_select_columns);
    helper->put_QuerySorting(product_sorting);
    if (failed("put_QueryWhereRestrictions", helper->put_QueryWhereRestrictions(product_where_restrictions(query).c_str())))
        return run;
    unique_cotaskmem_string sql;
    if (failed("GenerateSQLFromUserQuery", helper->GenerateSQLFromUserQuery(L"*", sql.put())))
        return run;
    run.sql = sql.get();

    CLSID provider{};
    if (failed("CLSIDFromProgID", CLSIDFromProgID(search_provider_prog_id, &provider)))
        return run;
    com_ptr<IDBInitialize> initialize;
    if (failed("CreateDataSource", CoCreateInstance(provider, nullptr, CLSCTX_ALL, IID_IDBInitialize, initialize.put_void())))
        return run;
    if (failed("Initialize", initialize->Initialize()))
        return run;
    com_ptr<IDBCreateSession> create_session;
    if (failed("QueryInterface(IDBCreateSession)", initialize->QueryInterface(IID_IDBCreateSession, create_session.put_void())))
        return run;
    com_ptr<IDBCreateCommand> create_command;
    if (failed("CreateSession", create_session->CreateSession(nullptr, IID_IDBCreateCommand, reinterpret_cast<IUnknown**>(create_command.put()))))
        return run;
    com_ptr<ICommandText> command;
    if (failed("CreateCommand", create_command->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.put()))))
        return run;
    if (failed("SetCommandText", command->SetCommandText(DBGUID_DEFAULT, sql.get())))
        return run;
    com_ptr<IRowset> rowset;
    if (failed("Execute", command->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(rowset.put()))))
        return run;
    com_ptr<IAccessor> accessor;
    if (failed("QueryInterface(IAccessor)", rowset->QueryInterface(IID_IAccessor, accessor.put_void())))
        return run;

    const DBBINDING bindings[7] = {
        binding(1, DBTYPE_WSTR, 512, 520, 0),        binding(2, DBTYPE_I8, 1032, 8, 0),
        binding(4, DBTYPE_WSTR, 0, 512, 0),          binding(5, DBTYPE_FILETIME, 1040, 8, 0),
        binding(9, DBTYPE_VARIANT, 1064, 24, 1056),  binding(10, DBTYPE_I4, 1052, 4, 1048),
        binding(11, DBTYPE_VARIANT, 1096, 24, 1088),
    };
    HACCESSOR handle = DB_NULL_HACCESSOR;
    if (failed("CreateAccessor", accessor->CreateAccessor(DBACCESSOR_ROWDATA, 7, bindings, 1120, &handle, run.bind_status)))
        return run;

    while (true)
    {
        HROW row = DB_NULL_HROW;
        HROW* rows = &row;
        DBCOUNTITEM obtained = 0;
        const HRESULT next = rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &rows);
        if (failed("GetNextRows", next) || obtained == 0)
            break;
        alignas(8) BYTE buffer[1120] = {};
        const HRESULT got = rowset->GetData(row, handle, buffer);
        if (failed("GetData", got))
        {
            rowset->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
            break;
        }
        product_record record;
        record.get_data = got;
        record.path.assign(reinterpret_cast<const wchar_t*>(buffer + 512), wcsnlen(reinterpret_cast<const wchar_t*>(buffer + 512), 260));
        LONGLONG size = 0;
        std::memcpy(&size, buffer + 1032, 8);
        record.size = static_cast<ULONGLONG>(size);
        record.type_text.assign(reinterpret_cast<const wchar_t*>(buffer), wcsnlen(reinterpret_cast<const wchar_t*>(buffer), 256));
        std::memcpy(&record.date_created, buffer + 1040, 8);
        VARIANT keywords, people;
        std::memcpy(&keywords, buffer + 1064, sizeof(VARIANT));
        std::memcpy(&people, buffer + 1096, sizeof(VARIANT));
        std::memcpy(&record.keywords_status, buffer + 1056, 4);
        std::memcpy(&record.people_status, buffer + 1088, 4);
        std::memcpy(&record.rating_status, buffer + 1048, 4);
        LONG rating = 0;
        std::memcpy(&rating, buffer + 1052, 4);
        record.rating = record.rating_status == DBSTATUS_S_OK ? static_cast<ULONG>(rating) : 0;
        record.keywords_type = keywords.vt;
        record.people_type = people.vt;
        record.keywords = read_multi_valued(record.keywords_status, keywords);
        record.people = read_multi_valued(record.people_status, people);
        VariantClear(&keywords);
        VariantClear(&people);
        rowset->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
        run.records.push_back(std::move(record));
    }
    accessor->ReleaseAccessor(handle, nullptr);
    return run;
}

com_ptr<IRowset> open_rowset(std::wstring_view sql, HRESULT* result)
{
    HRESULT ignored = S_OK;
    HRESULT& hr = result ? *result : ignored;
    CLSID provider{};
    com_ptr<IDBInitialize> initialize;
    com_ptr<IDBCreateSession> create_session;
    com_ptr<IDBCreateCommand> create_command;
    com_ptr<ICommandText> command;
    com_ptr<IRowset> rowset;
    const std::wstring text(sql);
    if (FAILED(hr = CLSIDFromProgID(search_provider_prog_id, &provider)) ||
        FAILED(hr = CoCreateInstance(provider, nullptr, CLSCTX_ALL, IID_IDBInitialize, initialize.put_void())) ||
        FAILED(hr = initialize->Initialize()) ||
        FAILED(hr = initialize->QueryInterface(IID_IDBCreateSession, create_session.put_void())) ||
        FAILED(hr = create_session->CreateSession(nullptr, IID_IDBCreateCommand, reinterpret_cast<IUnknown**>(create_command.put()))) ||
        FAILED(hr = create_command->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.put()))) ||
        FAILED(hr = command->SetCommandText(DBGUID_DEFAULT, text.c_str())) ||
        FAILED(hr = command->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(rowset.put()))))
        return {};
    return rowset;
}

statement_result run_statement(std::wstring_view sql)
{
    statement_result result;
    com_ptr<IRowset> rowset = open_rowset(sql, &result.result);
    if (!rowset)
        return result;
    auto accessor = rowset.try_query<IAccessor>();
    DBBINDING text = binding(1, DBTYPE_WSTR, 8, 2048, 0);
    text.dwPart |= DBPART_STATUS;
    HACCESSOR handle = DB_NULL_HACCESSOR;
    if (!accessor || FAILED(result.result = accessor->CreateAccessor(DBACCESSOR_ROWDATA, 1, &text, 0, &handle, nullptr)))
        return result;
    while (true)
    {
        HROW row = DB_NULL_HROW;
        HROW* rows = &row;
        DBCOUNTITEM obtained = 0;
        if (rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &rows) != S_OK || obtained != 1)
            break;
        alignas(8) BYTE buffer[8 + 2048] = {};
        rowset->GetData(row, handle, buffer);
        result.values.emplace_back(reinterpret_cast<const wchar_t*>(buffer + 8));
        rowset->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
    }
    accessor->ReleaseAccessor(handle, nullptr);
    return result;
}

search_standin_counters standin_counters()
{
    search_standin_counters counters{};
    if (HMODULE dll = standin_module())
        if (auto get = reinterpret_cast<search_standin_get_counters_function>(
                reinterpret_cast<void*>(GetProcAddress(dll, "search_standin_get_counters"))))
            get(&counters);
    return counters;
}

HRESULT standin_can_unload_now()
{
    HMODULE dll = standin_module();
    if (!dll)
        return E_UNEXPECTED;
    auto can_unload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
    return can_unload ? can_unload() : E_UNEXPECTED;
}
} // namespace search_service_test
