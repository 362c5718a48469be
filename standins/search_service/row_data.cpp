#include "row_data.h"

#include <oleauto.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>

namespace search_standin
{
namespace
{
template <class T>
void store(BYTE* row, DBBYTEOFFSET offset, const T& value) noexcept
{
    std::memcpy(row + offset, &value, sizeof(T));
}

std::wstring text_of(const value& v)
{
    if (auto* text = std::get_if<std::wstring>(&v))
        return *text;
    if (auto* list = std::get_if<text_list>(&v))
    {
        std::wstring joined;
        for (const auto& element : *list)
            joined += (joined.empty() ? L"" : L"; ") + element;
        return joined;
    }
    if (auto* integer = std::get_if<std::int64_t>(&v))
        return std::to_wstring(*integer);
    if (auto* real = std::get_if<double>(&v))
        return std::to_wstring(*real);
    if (auto* date = std::get_if<date_value>(&v))
        return format_date(*date);
    return {};
}

bool to_ole_date(date_value date, double& result) noexcept
{
    const FILETIME file_time{static_cast<DWORD>(date.ticks & 0xFFFFFFFF), static_cast<DWORD>(static_cast<std::uint64_t>(date.ticks) >> 32)};
    SYSTEMTIME time{};
    return FileTimeToSystemTime(&file_time, &time) && SystemTimeToVariantTime(&time, &result);
}

// An integer into a numeric type, with the range checks a provider makes.
template <class T>
DBSTATUS store_integer(std::int64_t number, BYTE* row, const DBBINDING& binding, bool value_bound) noexcept
{
    if constexpr (std::is_unsigned_v<T>)
    {
        if (number < 0)
            return DBSTATUS_E_SIGNMISMATCH;
        if (static_cast<std::uint64_t>(number) > std::numeric_limits<T>::max())
            return DBSTATUS_E_DATAOVERFLOW;
    }
    else if (number < std::numeric_limits<T>::min() || number > std::numeric_limits<T>::max())
        return DBSTATUS_E_DATAOVERFLOW;
    if (value_bound)
        store(row, binding.obValue, static_cast<T>(number));
    return DBSTATUS_S_OK;
}

DBSTATUS store_number(const value& v, DBTYPE type, BYTE* row, const DBBINDING& binding, bool value_bound) noexcept
{
    std::int64_t integer = 0;
    double real = 0;
    bool is_real = false;
    if (auto* i = std::get_if<std::int64_t>(&v))
        integer = *i, real = static_cast<double>(*i);
    else if (auto* d = std::get_if<double>(&v))
        real = *d, is_real = true;
    else if (auto* date = std::get_if<date_value>(&v); date && (type == DBTYPE_I8 || type == DBTYPE_UI8))
        integer = date->ticks, real = static_cast<double>(date->ticks);
    else
        return DBSTATUS_E_CANTCONVERTVALUE;
    if (type == DBTYPE_R8)
    {
        if (value_bound)
            store(row, binding.obValue, real);
        return DBSTATUS_S_OK;
    }
    if (type == DBTYPE_R4)
    {
        if (std::fabs(real) > std::numeric_limits<float>::max())
            return DBSTATUS_E_DATAOVERFLOW;
        if (value_bound)
            store(row, binding.obValue, static_cast<float>(real));
        return DBSTATUS_S_OK;
    }
    if (is_real)
    {
        if (real != std::floor(real) || std::fabs(real) > 9.2e18)
            return DBSTATUS_E_DATAOVERFLOW;
        integer = static_cast<std::int64_t>(real);
    }
    switch (type)
    {
    case DBTYPE_I1:
        return store_integer<signed char>(integer, row, binding, value_bound);
    case DBTYPE_I2:
        return store_integer<short>(integer, row, binding, value_bound);
    case DBTYPE_I4:
        return store_integer<LONG>(integer, row, binding, value_bound);
    case DBTYPE_I8:
        return store_integer<LONGLONG>(integer, row, binding, value_bound);
    case DBTYPE_UI1:
        return store_integer<BYTE>(integer, row, binding, value_bound);
    case DBTYPE_UI2:
        return store_integer<USHORT>(integer, row, binding, value_bound);
    case DBTYPE_UI4:
        return store_integer<ULONG>(integer, row, binding, value_bound);
    case DBTYPE_UI8:
        return store_integer<ULONGLONG>(integer, row, binding, value_bound);
    default:
        return DBSTATUS_E_CANTCONVERTVALUE;
    }
}

// The VARIANT a value becomes: a BSTR, a SAFEARRAY of BSTR for a list, the column's integer type, a
// DATE. A failed allocation leaves the VARIANT empty and reports E_OUTOFMEMORY.
DBSTATUS make_variant(const value& v, const column_info& column, VARIANT& result, HRESULT& failure) noexcept
{
    VariantInit(&result);
    if (auto* text = std::get_if<std::wstring>(&v))
    {
        result.bstrVal = SysAllocStringLen(text->data(), static_cast<UINT>(text->size()));
        if (!result.bstrVal)
            return failure = E_OUTOFMEMORY, DBSTATUS_E_CANTCREATE;
        result.vt = VT_BSTR;
        return DBSTATUS_S_OK;
    }
    if (auto* list = std::get_if<text_list>(&v))
    {
        SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(list->size()));
        if (!array)
            return failure = E_OUTOFMEMORY, DBSTATUS_E_CANTCREATE;
        BSTR* elements = nullptr;
        if (FAILED(SafeArrayAccessData(array, reinterpret_cast<void**>(&elements))))
        {
            SafeArrayDestroy(array);
            return failure = E_OUTOFMEMORY, DBSTATUS_E_CANTCREATE;
        }
        bool complete = true;
        for (std::size_t i = 0; i < list->size() && complete; ++i)
        {
            elements[i] = SysAllocStringLen((*list)[i].data(), static_cast<UINT>((*list)[i].size()));
            complete = elements[i] != nullptr;
        }
        SafeArrayUnaccessData(array);
        if (!complete)
        {
            SafeArrayDestroy(array);
            return failure = E_OUTOFMEMORY, DBSTATUS_E_CANTCREATE;
        }
        result.vt = VT_ARRAY | VT_BSTR;
        result.parray = array;
        return DBSTATUS_S_OK;
    }
    if (auto* integer = std::get_if<std::int64_t>(&v))
    {
        VARTYPE type = column.variant_type;
        if (type == VT_UI4 && (*integer < 0 || *integer > 0xFFFFFFFFll))
            type = VT_I8;
        if ((type == VT_I4 || (type & VT_ARRAY)) && *integer >= INT32_MIN && *integer <= INT32_MAX)
            type = VT_I4;
        else if (type != VT_UI8 && type != VT_UI4)
            type = VT_I8;
        result.vt = type;
        switch (type)
        {
        case VT_UI8:
            result.ullVal = static_cast<ULONGLONG>(*integer);
            break;
        case VT_UI4:
            result.ulVal = static_cast<ULONG>(*integer);
            break;
        case VT_I4:
            result.lVal = static_cast<LONG>(*integer);
            break;
        default:
            result.llVal = *integer;
            break;
        }
        return DBSTATUS_S_OK;
    }
    if (auto* real = std::get_if<double>(&v))
    {
        result.vt = VT_R8;
        result.dblVal = *real;
        return DBSTATUS_S_OK;
    }
    if (auto* date = std::get_if<date_value>(&v))
    {
        if (!to_ole_date(*date, result.date))
            return DBSTATUS_E_DATAOVERFLOW;
        result.vt = VT_DATE;
        return DBSTATUS_S_OK;
    }
    return DBSTATUS_E_CANTCONVERTVALUE;
}
} // namespace

bool conversion_supported(column_type from, DBTYPE type) noexcept
{
    if (type == (DBTYPE_WSTR | DBTYPE_BYREF))
        return true;
    if (type & ~0x00FF)
        return false;
    switch (type)
    {
    case DBTYPE_WSTR:
    case DBTYPE_BSTR:
    case DBTYPE_VARIANT:
        return true;
    case DBTYPE_I1:
    case DBTYPE_I2:
    case DBTYPE_I4:
    case DBTYPE_UI1:
    case DBTYPE_UI2:
    case DBTYPE_UI4:
    case DBTYPE_R4:
    case DBTYPE_R8:
        return from == column_type::integer;
    case DBTYPE_I8:
    case DBTYPE_UI8:
        return from == column_type::integer || from == column_type::date;
    case DBTYPE_FILETIME:
    case DBTYPE_DATE:
        return from == column_type::date;
    default:
        return false;
    }
}

DBTYPE native_type(const column_info& column) noexcept
{
    switch (column.type)
    {
    case column_type::text:
        return DBTYPE_WSTR;
    case column_type::date:
        return DBTYPE_FILETIME;
    case column_type::text_list:
        return DBTYPE_VARIANT;
    case column_type::integer:
        switch (column.variant_type)
        {
        case VT_UI8:
            return DBTYPE_UI8;
        case VT_UI4:
            return DBTYPE_UI4;
        case VT_I4:
            return DBTYPE_I4;
        default:
            return DBTYPE_I8;
        }
    }
    return DBTYPE_WSTR;
}

DBSTATUS write_binding(const value& v, const column_info& column, const DBBINDING& binding, BYTE* row, HRESULT& failure) noexcept
{
    const bool value_bound = (binding.dwPart & DBPART_VALUE) != 0;
    DBLENGTH length = 0;
    DBSTATUS status = DBSTATUS_S_OK;
    const DBTYPE type = binding.wType;

    if (std::holds_alternative<std::monostate>(v))
    {
        status = DBSTATUS_S_ISNULL;
        if (value_bound && type == DBTYPE_VARIANT)
        {
            VARIANT empty;
            VariantInit(&empty);
            store(row, binding.obValue, empty);
        }
    }
    else if (type == DBTYPE_WSTR || type == (DBTYPE_WSTR | DBTYPE_BYREF) || type == DBTYPE_BSTR)
    {
        std::wstring text;
        try
        {
            text = text_of(v);
        }
        catch (...)
        {
            failure = E_OUTOFMEMORY;
            return DBSTATUS_E_CANTCREATE;
        }
        length = text.size() * sizeof(wchar_t);
        if (type == DBTYPE_WSTR)
        {
            // The untruncated length is reported; the buffer gets what fits with its terminating NUL.
            const DBLENGTH room = binding.cbMaxLen / sizeof(wchar_t);
            if (room == 0)
                status = DBSTATUS_S_TRUNCATED;
            else
            {
                const DBLENGTH count = std::min<DBLENGTH>(text.size(), room - 1);
                if (count < text.size())
                    status = DBSTATUS_S_TRUNCATED;
                if (value_bound)
                {
                    std::memcpy(row + binding.obValue, text.data(), count * sizeof(wchar_t));
                    store(row, binding.obValue + count * sizeof(wchar_t), L'\0');
                }
            }
        }
        else if (value_bound && type == DBTYPE_BSTR)
        {
            BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            if (!copy)
                return failure = E_OUTOFMEMORY, DBSTATUS_E_CANTCREATE;
            store(row, binding.obValue, copy);
        }
        else if (value_bound)
        {
            auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
            if (!copy)
                return failure = E_OUTOFMEMORY, DBSTATUS_E_CANTCREATE;
            std::memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
            store(row, binding.obValue, copy);
        }
    }
    else if (type == DBTYPE_VARIANT)
    {
        VARIANT variant;
        status = make_variant(v, column, variant, failure);
        length = sizeof(VARIANT);
        if (value_bound)
            store(row, binding.obValue, variant);
        else
            VariantClear(&variant);
    }
    else if (type == DBTYPE_FILETIME || type == DBTYPE_DATE)
    {
        const auto* date = std::get_if<date_value>(&v);
        if (!date)
            status = DBSTATUS_E_CANTCONVERTVALUE;
        else if (type == DBTYPE_FILETIME)
        {
            length = sizeof(FILETIME);
            const FILETIME time{static_cast<DWORD>(date->ticks & 0xFFFFFFFF), static_cast<DWORD>(static_cast<std::uint64_t>(date->ticks) >> 32)};
            if (value_bound)
                store(row, binding.obValue, time);
        }
        else
        {
            double ole_date = 0;
            length = sizeof(double);
            if (!to_ole_date(*date, ole_date))
                status = DBSTATUS_E_DATAOVERFLOW;
            else if (value_bound)
                store(row, binding.obValue, ole_date);
        }
    }
    else
    {
        status = store_number(v, type, row, binding, value_bound);
        switch (type)
        {
        case DBTYPE_I1:
        case DBTYPE_UI1:
            length = 1;
            break;
        case DBTYPE_I2:
        case DBTYPE_UI2:
            length = 2;
            break;
        case DBTYPE_I4:
        case DBTYPE_UI4:
        case DBTYPE_R4:
            length = 4;
            break;
        default:
            length = 8;
            break;
        }
    }

    if (binding.dwPart & DBPART_LENGTH)
        store(row, binding.obLength, status == DBSTATUS_S_OK || status == DBSTATUS_S_TRUNCATED ? length : DBLENGTH{0});
    if (binding.dwPart & DBPART_STATUS)
        store(row, binding.obStatus, status);
    return status;
}

bool is_error_status(DBSTATUS status, const DBBINDING& binding) noexcept
{
    if (status == DBSTATUS_S_OK || status == DBSTATUS_S_TRUNCATED)
        return false;
    if (status == DBSTATUS_S_ISNULL)
        return (binding.dwPart & DBPART_STATUS) == 0;
    return true;
}
} // namespace search_standin
