#include "rowset.h"

#include "base/raii.h"
#include "row_data.h"
#include "standin_object.h"

#include <oledberr.h>

#include <map>
#include <mutex>

namespace search_standin
{
namespace
{
struct accessor_entry
{
    DBACCESSORFLAGS flags = 0;
    std::vector<DBBINDING> bindings;
    DBREFCOUNT references = 0;
};

bool same_name(const wchar_t* a, const std::wstring& b)
{
    return a && CompareStringOrdinal(a, -1, b.c_str(), static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Forward-only, read-only; rows are fetched from the query's result list, one handle per row.
class rowset final : public standin_object<rowset, IRowset, IAccessor, IColumnsInfo, IConvertType, IRowsetInfo>
{
public:
    rowset(IUnknown* command, std::shared_ptr<index_data> index, std::vector<selected_column> columns, std::vector<std::size_t> items)
        : command_(command), index_(std::move(index)), columns_(std::move(columns)), items_(std::move(items)),
          row_references_(items_.size(), 0)
    {
    }

    HRESULT refuse_interface(REFIID riid) noexcept
    {
        if (IsEqualIID(riid, IID_IAccessor))
            return index_->faults.check("QueryInterface(IAccessor)");
        if (IsEqualIID(riid, IID_IColumnsInfo))
            return index_->faults.check("QueryInterface(IColumnsInfo)");
        return S_OK;
    }

    // ---- IRowset ----

    STDMETHODIMP AddRefRows(DBCOUNTITEM count, const HROW rows[], DBREFCOUNT references[], DBROWSTATUS statuses[]) noexcept override
    {
        if (count > 0 && !rows)
            return E_INVALIDARG;
        std::lock_guard lock(mutex_);
        DBCOUNTITEM errors = 0;
        for (DBCOUNTITEM i = 0; i < count; ++i)
        {
            DBREFCOUNT* held = row(rows[i]);
            if (held)
                ++*held;
            else
                ++errors;
            if (references)
                references[i] = held ? *held : 0;
            if (statuses)
                statuses[i] = held ? DBROWSTATUS_S_OK : DBROWSTATUS_E_INVALID;
        }
        return errors == 0 ? S_OK : errors == count ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
    }

    // Fills the consumer's buffer as the accessor's bindings say.
    STDMETHODIMP GetData(HROW handle, HACCESSOR accessor, void* data) noexcept override
    {
        if (const HRESULT fault = index_->faults.check("GetData"); FAILED(fault))
            return fault;
        std::lock_guard lock(mutex_);
        const auto found = accessors_.find(accessor);
        if (found == accessors_.end())
            return DB_E_BADACCESSORHANDLE;
        DBREFCOUNT* held = row(handle);
        if (!held)
            return DB_E_BADROWHANDLE;
        const auto& bindings = found->second.bindings;
        if (!bindings.empty() && !data)
            return E_INVALIDARG;
        ++counters().get_data_calls;
        const std::size_t item = items_[handle - 1];
        HRESULT failure = S_OK;
        std::size_t errors = 0;
        for (const auto& binding : bindings)
        {
            const std::size_t column = columns_[binding.iOrdinal - 1].column;
            const DBSTATUS status = write_binding(index_->item_value(item, column), index_->columns[column], binding,
                                                  static_cast<BYTE*>(data), failure);
            if (is_error_status(status, binding))
                ++errors;
        }
        if (FAILED(failure))
            return failure;
        return errors == 0 ? S_OK : errors == bindings.size() ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
    }

    // Hands out up to `count` rows after skipping `offset`; DB_S_ENDOFROWSET when the rows run out.
    STDMETHODIMP GetNextRows(HCHAPTER, DBROWOFFSET offset, DBROWCOUNT count, DBCOUNTITEM* obtained, HROW** rows) noexcept override
    {
        if (!obtained || !rows)
            return E_INVALIDARG;
        *obtained = 0;
        if (const HRESULT fault = index_->faults.check("GetNextRows"); FAILED(fault))
            return fault;
        if (offset < 0)
            return DB_E_CANTSCROLLBACKWARDS;
        if (count < 0)
            return DB_E_CANTFETCHBACKWARDS;
        std::lock_guard lock(mutex_);
        position_ = std::min(items_.size(), position_ + static_cast<std::size_t>(offset));
        if (count == 0)
            return S_OK;
        if (position_ == items_.size())
            return DB_S_ENDOFROWSET;
        const std::size_t n = std::min(items_.size() - position_, static_cast<std::size_t>(count));
        const bool allocated = *rows == nullptr;
        if (allocated)
        {
            *rows = static_cast<HROW*>(CoTaskMemAlloc(n * sizeof(HROW)));
            if (!*rows)
                return E_OUTOFMEMORY;
        }
        for (std::size_t i = 0; i < n; ++i)
        {
            (*rows)[i] = position_ + 1;
            row_references_[position_] = 1;
            ++position_;
        }
        *obtained = n;
        counters().rows_obtained += static_cast<LONG>(n);
        return n < static_cast<std::size_t>(count) ? DB_S_ENDOFROWSET : S_OK;
    }

    STDMETHODIMP ReleaseRows(DBCOUNTITEM count, const HROW rows[], DBROWOPTIONS[], DBREFCOUNT references[], DBROWSTATUS statuses[]) noexcept override
    {
        if (count > 0 && !rows)
            return E_INVALIDARG;
        if (const HRESULT fault = index_->faults.check("ReleaseRows"); FAILED(fault))
            return fault;
        std::lock_guard lock(mutex_);
        DBCOUNTITEM errors = 0;
        for (DBCOUNTITEM i = 0; i < count; ++i)
        {
            DBREFCOUNT* held = row(rows[i]);
            if (held && --*held == 0)
                ++counters().rows_released;
            if (!held)
                ++errors;
            if (references)
                references[i] = held ? *held : 0;
            if (statuses)
                statuses[i] = held ? DBROWSTATUS_S_OK : DBROWSTATUS_E_INVALID;
        }
        return errors == 0 ? S_OK : errors == count ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
    }

    STDMETHODIMP RestartPosition(HCHAPTER) noexcept override
    {
        std::lock_guard lock(mutex_);
        for (auto references : row_references_)
            if (references > 0)
                return DB_E_ROWSNOTRELEASED;
        position_ = 0;
        return S_OK;
    }

    // ---- IAccessor ----

    STDMETHODIMP AddRefAccessor(HACCESSOR accessor, DBREFCOUNT* count) noexcept override
    {
        std::lock_guard lock(mutex_);
        const auto found = accessors_.find(accessor);
        if (found == accessors_.end())
            return DB_E_BADACCESSORHANDLE;
        ++found->second.references;
        if (count)
            *count = found->second.references;
        return S_OK;
    }

    // Row accessors only; each binding is checked against the columns, as providers do before any fetch.
    STDMETHODIMP CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM count, const DBBINDING bindings[], DBLENGTH,
                                HACCESSOR* accessor, DBBINDSTATUS statuses[]) noexcept override
    {
        if (!accessor)
            return E_INVALIDARG;
        *accessor = DB_NULL_HACCESSOR;
        if (const HRESULT fault = index_->faults.check("CreateAccessor"); FAILED(fault))
            return fault;
        if (flags & DBACCESSOR_PASSBYREF)
            return DB_E_BYREFACCESSORNOTSUPPORTED;
        if (!(flags & DBACCESSOR_ROWDATA) || (flags & DBACCESSOR_PARAMETERDATA) ||
            (flags & ~(DBACCESSOR_ROWDATA | DBACCESSOR_OPTIMIZED)))
            return DB_E_BADACCESSORFLAGS;
        if (count == 0)
            return DB_E_NULLACCESSORNOTSUPPORTED;
        if (!bindings)
            return E_INVALIDARG;
        return guarded([&] {
            DBCOUNTITEM errors = 0;
            for (DBCOUNTITEM i = 0; i < count; ++i)
            {
                const DBBINDSTATUS status = check_binding(bindings[i]);
                if (status != DBBINDSTATUS_OK)
                    ++errors;
                if (statuses)
                    statuses[i] = status;
            }
            if (errors > 0)
                return DB_E_ERRORSOCCURRED;
            std::lock_guard lock(mutex_);
            const HACCESSOR handle = next_accessor_++;
            accessors_[handle] = accessor_entry{flags, std::vector<DBBINDING>(bindings, bindings + count), 1};
            *accessor = handle;
            ++counters().accessors_created;
            return S_OK;
        });
    }

    STDMETHODIMP GetBindings(HACCESSOR accessor, DBACCESSORFLAGS* flags, DBCOUNTITEM* count, DBBINDING** bindings) noexcept override
    {
        if (!flags || !count || !bindings)
            return E_INVALIDARG;
        *flags = 0;
        *count = 0;
        *bindings = nullptr;
        std::lock_guard lock(mutex_);
        const auto found = accessors_.find(accessor);
        if (found == accessors_.end())
            return DB_E_BADACCESSORHANDLE;
        const auto& entry = found->second;
        auto* copy = static_cast<DBBINDING*>(CoTaskMemAlloc(entry.bindings.size() * sizeof(DBBINDING)));
        if (!copy)
            return E_OUTOFMEMORY;
        std::copy(entry.bindings.begin(), entry.bindings.end(), copy);
        *flags = entry.flags;
        *count = entry.bindings.size();
        *bindings = copy;
        return S_OK;
    }

    STDMETHODIMP ReleaseAccessor(HACCESSOR accessor, DBREFCOUNT* count) noexcept override
    {
        std::lock_guard lock(mutex_);
        const auto found = accessors_.find(accessor);
        if (found == accessors_.end())
            return DB_E_BADACCESSORHANDLE;
        const DBREFCOUNT left = --found->second.references;
        if (left == 0)
        {
            accessors_.erase(found);
            ++counters().accessors_released;
        }
        if (count)
            *count = left;
        return S_OK;
    }

    // ---- IColumnsInfo ----

    // The selected columns, named as the statement wrote them, ordinals from 1.
    STDMETHODIMP GetColumnInfo(DBORDINAL* count, DBCOLUMNINFO** info, OLECHAR** strings) noexcept override
    {
        if (!count || !info || !strings)
            return E_INVALIDARG;
        *count = 0;
        *info = nullptr;
        *strings = nullptr;
        if (const HRESULT fault = index_->faults.check("GetColumnInfo"); FAILED(fault))
            return fault;
        std::size_t characters = 0;
        for (const auto& column : columns_)
            characters += column.name.size() + 1;
        unique_cotaskmem<DBCOLUMNINFO> columns(static_cast<DBCOLUMNINFO*>(CoTaskMemAlloc(columns_.size() * sizeof(DBCOLUMNINFO))));
        unique_cotaskmem<OLECHAR> names(static_cast<OLECHAR*>(CoTaskMemAlloc(characters * sizeof(OLECHAR))));
        if (!columns || !names)
            return E_OUTOFMEMORY;
        OLECHAR* name = names.get();
        for (std::size_t i = 0; i < columns_.size(); ++i)
        {
            const column_info& column = index_->columns[columns_[i].column];
            DBCOLUMNINFO& entry = columns.get()[i];
            entry = DBCOLUMNINFO{};
            std::copy(columns_[i].name.begin(), columns_[i].name.end(), name);
            name[columns_[i].name.size()] = L'\0';
            entry.pwszName = name;
            entry.iOrdinal = i + 1;
            entry.dwFlags = DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL;
            entry.wType = native_type(column);
            switch (entry.wType)
            {
            case DBTYPE_WSTR:
                entry.ulColumnSize = ~DBLENGTH{0};
                break;
            case DBTYPE_VARIANT:
                entry.ulColumnSize = sizeof(VARIANT);
                break;
            case DBTYPE_UI4:
            case DBTYPE_I4:
                entry.ulColumnSize = 4;
                break;
            default:
                entry.ulColumnSize = 8;
                break;
            }
            entry.bPrecision = static_cast<BYTE>(~0);
            entry.bScale = static_cast<BYTE>(~0);
            entry.columnid.eKind = DBKIND_NAME;
            entry.columnid.uName.pwszName = name;
            name += columns_[i].name.size() + 1;
        }
        *count = columns_.size();
        *info = columns.release();
        *strings = names.release();
        return S_OK;
    }

    // By name (DBKIND_NAME, as selected or any alias of the column) or by property key (DBKIND_GUID_PROPID).
    STDMETHODIMP MapColumnIDs(DBORDINAL count, const DBID ids[], DBORDINAL ordinals[]) noexcept override
    {
        if (count > 0 && (!ids || !ordinals))
            return E_INVALIDARG;
        if (const HRESULT fault = index_->faults.check("MapColumnIDs"); FAILED(fault))
            return fault;
        return guarded([&] {
            DBORDINAL errors = 0;
            for (DBORDINAL i = 0; i < count; ++i)
            {
                ordinals[i] = ordinal_of(ids[i]);
                if (ordinals[i] == DB_INVALIDCOLUMN)
                    ++errors;
            }
            return errors == 0 ? S_OK : errors == count ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
        });
    }

    // ---- IConvertType ----

    STDMETHODIMP CanConvert(DBTYPE from, DBTYPE to, DBCONVERTFLAGS) noexcept override
    {
        column_type type = column_type::text;
        switch (from)
        {
        case DBTYPE_WSTR:
            type = column_type::text;
            break;
        case DBTYPE_I4:
        case DBTYPE_I8:
        case DBTYPE_UI4:
        case DBTYPE_UI8:
            type = column_type::integer;
            break;
        case DBTYPE_FILETIME:
            type = column_type::date;
            break;
        case DBTYPE_VARIANT:
            type = column_type::text_list;
            break;
        default:
            return S_FALSE;
        }
        return conversion_supported(type, to) ? S_OK : S_FALSE;
    }

    // ---- IRowsetInfo ----

    STDMETHODIMP GetProperties(const ULONG, const DBPROPIDSET[], ULONG* count, DBPROPSET** sets) noexcept override
    {
        if (!count || !sets)
            return E_INVALIDARG;
        *count = 0;
        *sets = nullptr;
        return S_OK;
    }
    STDMETHODIMP GetReferencedRowset(DBORDINAL, REFIID, IUnknown** rowset) noexcept override
    {
        if (rowset)
            *rowset = nullptr;
        return DB_E_NOTAREFERENCECOLUMN;
    }
    STDMETHODIMP GetSpecification(REFIID riid, IUnknown** command_object) noexcept override
    {
        if (!command_object)
            return E_INVALIDARG;
        *command_object = nullptr;
        if (!command_)
            return S_FALSE;
        return command_->QueryInterface(riid, reinterpret_cast<void**>(command_object));
    }

private:
    // The reference count of a live row handle; null for an unknown or released handle.
    DBREFCOUNT* row(HROW handle) noexcept
    {
        if (handle == DB_NULL_HROW || handle > row_references_.size() || row_references_[handle - 1] == 0)
            return nullptr;
        return &row_references_[handle - 1];
    }

    DBBINDSTATUS check_binding(const DBBINDING& binding) const noexcept
    {
        if (binding.iOrdinal == 0 || binding.iOrdinal > columns_.size())
            return DBBINDSTATUS_BADORDINAL;
        if ((binding.dwPart & ~(DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS)) ||
            !(binding.dwPart & (DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS)) || binding.pObject ||
            binding.eParamIO != DBPARAMIO_NOTPARAM)
            return DBBINDSTATUS_BADBINDINFO;
        if (binding.dwMemOwner != DBMEMOWNER_CLIENTOWNED)
            return DBBINDSTATUS_BADBINDINFO;
        if (!conversion_supported(index_->columns[columns_[binding.iOrdinal - 1].column].type, binding.wType))
            return DBBINDSTATUS_UNSUPPORTEDCONVERSION;
        return DBBINDSTATUS_OK;
    }

    DBORDINAL ordinal_of(const DBID& id) const
    {
        std::optional<std::size_t> column;
        if (id.eKind == DBKIND_NAME && id.uName.pwszName)
        {
            for (std::size_t i = 0; i < columns_.size(); ++i)
                if (same_name(id.uName.pwszName, columns_[i].name))
                    return i + 1;
            column = index_->find_column(id.uName.pwszName);
        }
        else if (id.eKind == DBKIND_GUID_PROPID)
            column = index_->find_column(id.uGuid.guid, id.uName.ulPropid);
        else if (id.eKind == DBKIND_PGUID_PROPID && id.uGuid.pguid)
            column = index_->find_column(*id.uGuid.pguid, id.uName.ulPropid);
        if (column)
            for (std::size_t i = 0; i < columns_.size(); ++i)
                if (columns_[i].column == *column)
                    return i + 1;
        return DB_INVALIDCOLUMN;
    }

    com_ptr<IUnknown> command_;
    std::shared_ptr<index_data> index_;
    std::vector<selected_column> columns_;
    std::vector<std::size_t> items_;

    std::mutex mutex_;
    std::vector<DBREFCOUNT> row_references_;
    std::size_t position_ = 0;
    std::map<HACCESSOR, accessor_entry> accessors_;
    HACCESSOR next_accessor_ = 1;
};
} // namespace

HRESULT create_rowset(IUnknown* command, std::shared_ptr<index_data> index, std::vector<selected_column> columns,
                      std::vector<std::size_t> items, REFIID riid, void** ppv) noexcept
{
    return rowset::create_instance(riid, ppv, command, std::move(index), std::move(columns), std::move(items));
}
} // namespace search_standin
