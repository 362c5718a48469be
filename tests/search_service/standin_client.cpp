#include "standin_client.h"

#include "diagnostics/log.h"
#include "support/test_files.h"

#include <oleauto.h>

namespace search_service_test
{
namespace
{
constexpr DBBYTEOFFSET text_offset = 8;

std::filesystem::path scratch_index_path()
{
    static int counter = 0;
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::filesystem::path(temp) / (L"velmora-search-index-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                          std::to_wstring(++counter) + L".json");
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
    for (char c : to_utf8(text))
        result += c == '"' || c == '\\' ? std::string{'\\', c} : std::string{c};
    return result + "\"";
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

com_ptr<IRowset> open_rowset(std::wstring_view sql, HRESULT* result)
{
    HRESULT& hr = *result;
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
        FAILED(hr = create_session->CreateSession(nullptr, IID_IDBCreateCommand,
                                                  reinterpret_cast<IUnknown**>(create_command.put()))) ||
        FAILED(hr = create_command->CreateCommand(nullptr, IID_ICommandText, reinterpret_cast<IUnknown**>(command.put()))) ||
        FAILED(hr = command->SetCommandText(DBGUID_DEFAULT, text.c_str())) ||
        FAILED(hr = command->Execute(nullptr, IID_IRowset, nullptr, nullptr, reinterpret_cast<IUnknown**>(rowset.put()))))
        return {};
    return rowset;
}

statement_result fetch_rows(std::wstring_view sql, std::span<const DBBINDING> bindings, std::size_t row_size)
{
    statement_result result;
    com_ptr<IRowset> rowset = open_rowset(sql, &result.result);
    if (!rowset)
        return result;
    auto accessor = rowset.try_query<IAccessor>();
    HACCESSOR handle = DB_NULL_HACCESSOR;
    if (!accessor || FAILED(result.result = accessor->CreateAccessor(DBACCESSOR_ROWDATA, bindings.size(), bindings.data(),
                                                                     row_size, &handle, nullptr)))
        return result;
    for (;;)
    {
        HROW row = DB_NULL_HROW;
        HROW* rows = &row;
        DBCOUNTITEM obtained = 0;
        if (rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &rows) != S_OK || obtained != 1)
            break;
        fetched_row fetched{S_OK, std::vector<BYTE>(row_size)};
        fetched.get_data = rowset->GetData(row, handle, fetched.bytes.data());
        rowset->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
        for (const auto& b : bindings)
            if (b.wType == DBTYPE_VARIANT)
                VariantClear(reinterpret_cast<VARIANT*>(fetched.bytes.data() + b.obValue));
        result.rows.push_back(std::move(fetched));
    }
    accessor->ReleaseAccessor(handle, nullptr);
    return result;
}

statement_result run_statement(std::wstring_view sql)
{
    const DBBINDING text = binding(1, DBTYPE_WSTR, text_offset, 2048, 4);
    return fetch_rows(sql, {&text, 1}, text_offset + 2048);
}

search_standin_counters standin_counters()
{
    search_standin_counters counters{};
    if (HMODULE dll = GetModuleHandleW(search_standin_dll_name))
        if (auto get = reinterpret_cast<search_standin_get_counters_function>(
                reinterpret_cast<void*>(GetProcAddress(dll, "search_standin_get_counters"))))
            get(&counters);
    return counters;
}

HRESULT standin_can_unload_now()
{
    HMODULE dll = GetModuleHandleW(search_standin_dll_name);
    auto can_unload = dll ? reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
                                reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")))
                          : nullptr;
    return can_unload ? can_unload() : E_UNEXPECTED;
}
} // namespace search_service_test
