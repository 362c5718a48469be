// The OLE DB side of the stand-in: data source, session and command. Executing a command parses the
// statement, answers it from the index and hands out a rowset.

#include "index.h"
#include "base/raii.h"
#include "rowset.h"
#include "search_objects.h"
#include "sql_query.h"
#include "standin_object.h"

#include <oledberr.h>

#include <cstring>
#include <mutex>

namespace search_standin
{
namespace
{
// DBGUID_SQL, the other dialect a command accepts besides DBGUID_DEFAULT.
constexpr GUID dialect_sql = {0xc8b522d7, 0x5cf3, 0x11ce, {0xad, 0xe5, 0x00, 0xaa, 0x00, 0x44, 0x77, 0x3d}};

std::wstring wide_message(const char* text)
{
    return std::wstring(text, text + std::strlen(text));
}

class command final : public standin_object<command, ICommandText>
{
public:
    command(IUnknown* session, std::shared_ptr<index_data> index) : session_(session), index_(std::move(index)) {}

    STDMETHODIMP Cancel() noexcept override { return S_OK; }

    // Runs the statement now; the rowset holds every matching row.
    STDMETHODIMP Execute(IUnknown* outer, REFIID riid, DBPARAMS*, DBROWCOUNT* rows_affected, IUnknown** rowset) noexcept override
    {
        if (rowset)
            *rowset = nullptr;
        if (rows_affected)
            *rows_affected = DB_COUNTUNAVAILABLE;
        if (const HRESULT fault = index_->faults.check("Execute"); FAILED(fault))
            return fault;
        if (!rowset && !IsEqualIID(riid, IID_NULL))
            return E_INVALIDARG;
        if (outer)
            return DB_E_NOAGGREGATION;
        return guarded([&] {
            std::wstring text;
            {
                std::lock_guard lock(mutex_);
                if (!has_text_)
                    return DB_E_NOCOMMAND;
                text = text_;
            }
            parsed_query query;
            try
            {
                query = parse_query(text, *index_);
            }
            catch (const query_error& e)
            {
                set_error_info(IID_ICommandText, wide_message(e.what()));
                return DB_E_ERRORSINCOMMAND;
            }
            std::vector<std::size_t> items = run_query(query, *index_);
            if (IsEqualIID(riid, IID_NULL))
                return S_OK;
            const HRESULT hr = create_rowset(static_cast<ICommandText*>(this), index_, std::move(query.select), std::move(items), riid,
                                             reinterpret_cast<void**>(rowset));
            if (SUCCEEDED(hr))
                ++counters().executes;
            return hr;
        });
    }

    STDMETHODIMP GetDBSession(REFIID riid, IUnknown** session) noexcept override
    {
        if (!session)
            return E_INVALIDARG;
        *session = nullptr;
        return session_.query_to(riid, reinterpret_cast<void**>(session));
    }

    STDMETHODIMP GetCommandText(GUID* dialect, LPOLESTR* text) noexcept override
    {
        if (!text)
            return E_INVALIDARG;
        *text = nullptr;
        std::lock_guard lock(mutex_);
        if (!has_text_)
            return DB_E_NOCOMMAND;
        if (dialect)
            *dialect = dialect_;
        return put_task_string(text_, text);
    }

    // Only the default and the SQL dialect; the statement is parsed when it is executed.
    STDMETHODIMP SetCommandText(REFGUID dialect, LPCOLESTR text) noexcept override
    {
        if (const HRESULT fault = index_->faults.check("SetCommandText"); FAILED(fault))
            return fault;
        if (!IsEqualGUID(dialect, DBGUID_DEFAULT) && !IsEqualGUID(dialect, dialect_sql))
            return DB_E_DIALECTNOTSUPPORTED;
        return guarded([&] {
            std::lock_guard lock(mutex_);
            has_text_ = text && *text;
            text_ = has_text_ ? text : L"";
            dialect_ = dialect;
            return S_OK;
        });
    }

private:
    com_ptr<IUnknown> session_;
    std::shared_ptr<index_data> index_;
    std::mutex mutex_;
    bool has_text_ = false;
    std::wstring text_;
    GUID dialect_ = GUID_NULL;
};

class session final : public standin_object<session, IDBCreateCommand, IGetDataSource>
{
public:
    session(IUnknown* data_source, std::shared_ptr<index_data> index) : data_source_(data_source), index_(std::move(index)) {}

    STDMETHODIMP CreateCommand(IUnknown* outer, REFIID riid, IUnknown** result) noexcept override
    {
        if (!result)
            return E_INVALIDARG;
        *result = nullptr;
        if (outer)
            return DB_E_NOAGGREGATION;
        if (const HRESULT fault = index_->faults.check("CreateCommand"); FAILED(fault))
            return fault;
        return command::create_instance(riid, reinterpret_cast<void**>(result), static_cast<IDBCreateCommand*>(this), index_);
    }

    STDMETHODIMP GetDataSource(REFIID riid, IUnknown** result) noexcept override
    {
        if (!result)
            return E_INVALIDARG;
        *result = nullptr;
        return data_source_.query_to(riid, reinterpret_cast<void**>(result));
    }

private:
    com_ptr<IUnknown> data_source_;
    std::shared_ptr<index_data> index_;
};

class data_source final : public standin_object<data_source, IDBInitialize, IDBCreateSession, IDBProperties>
{
public:
    explicit data_source(std::shared_ptr<index_data> index) : index_(std::move(index)) {}

    HRESULT refuse_interface(REFIID riid) noexcept
    {
        if (IsEqualIID(riid, IID_IDBCreateSession))
            return index_->faults.check("QueryInterface(IDBCreateSession)");
        return S_OK;
    }

    STDMETHODIMP Initialize() noexcept override
    {
        if (const HRESULT fault = index_->faults.check("Initialize"); FAILED(fault))
            return fault;
        if (initialized_.exchange(true))
            return DB_E_ALREADYINITIALIZED;
        return S_OK;
    }
    STDMETHODIMP Uninitialize() noexcept override
    {
        initialized_ = false;
        return S_OK;
    }

    STDMETHODIMP CreateSession(IUnknown* outer, REFIID riid, IUnknown** result) noexcept override
    {
        if (!result)
            return E_INVALIDARG;
        *result = nullptr;
        if (outer)
            return DB_E_NOAGGREGATION;
        if (!initialized_)
            return E_UNEXPECTED;
        if (const HRESULT fault = index_->faults.check("CreateSession"); FAILED(fault))
            return fault;
        return session::create_instance(riid, reinterpret_cast<void**>(result), static_cast<IDBInitialize*>(this), index_);
    }

    // The stand-in has no initialisation properties: it reports none and accepts whatever is set.
    STDMETHODIMP GetProperties(ULONG, const DBPROPIDSET[], ULONG* count, DBPROPSET** sets) noexcept override
    {
        if (!count || !sets)
            return E_INVALIDARG;
        *count = 0;
        *sets = nullptr;
        return S_OK;
    }
    STDMETHODIMP GetPropertyInfo(ULONG, const DBPROPIDSET[], ULONG* count, DBPROPINFOSET** sets, OLECHAR** descriptions) noexcept override
    {
        if (!count || !sets)
            return E_INVALIDARG;
        *count = 0;
        *sets = nullptr;
        if (descriptions)
            *descriptions = nullptr;
        return S_OK;
    }
    STDMETHODIMP SetProperties(ULONG count, DBPROPSET sets[]) noexcept override
    {
        if (count > 0 && !sets)
            return E_INVALIDARG;
        return S_OK;
    }

private:
    std::shared_ptr<index_data> index_;
    std::atomic<bool> initialized_{false};
};
} // namespace

HRESULT create_data_source(REFIID riid, void** ppv) noexcept
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    return guarded([&] {
        std::shared_ptr<index_data> index;
        if (const HRESULT hr = load_index_for_creation(IID_IDBInitialize, "CreateDataSource", index); FAILED(hr))
            return hr;
        return data_source::create_instance(riid, ppv, std::move(index));
    });
}
} // namespace search_standin
