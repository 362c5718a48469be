#pragma once
// The stand-in's own COM plumbing. It is a separate DLL with its own DllCanUnloadNow, so it cannot use
// the product's module object; the pattern is the same: an atomic reference count starting at 1, a
// count of live objects that DllCanUnloadNow reads, QueryInterface over a compile-time interface list.

#include "search/search_api.h"
#include "search_standin_counters.h"

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <new>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

namespace search_standin
{
// The process-wide counters (defined in standin_module.cpp).
struct module_counters
{
    std::atomic<LONG> live_objects{0};
    std::atomic<LONG> server_locks{0};
    std::atomic<LONG> indexes_loaded{0};
    std::atomic<LONG> executes{0};
    std::atomic<LONG> rows_obtained{0};
    std::atomic<LONG> rows_released{0};
    std::atomic<LONG> accessors_created{0};
    std::atomic<LONG> accessors_released{0};
    std::atomic<LONG> get_data_calls{0};
};
module_counters& counters() noexcept;

// The IID an interface type answers to. mingw's OLE DB and shell interfaces have no __uuidof
// information, so the table names them here.
template <class I>
const IID& iid_of() noexcept
{
    return __uuidof(I);
}
template <>
inline const IID& iid_of<IClassFactory>() noexcept
{
    return IID_IClassFactory;
}
template <>
inline const IID& iid_of<IConvertType>() noexcept
{
    return IID_IConvertType;
}
template <>
inline const IID& iid_of<IRowsetInfo>() noexcept
{
    return IID_IRowsetInfo;
}
template <>
inline const IID& iid_of<IGetDataSource>() noexcept
{
    return IID_IGetDataSource;
}

// Interfaces a listed interface implies (ICommandText is an ICommand).
template <class I>
struct base_interface
{
    using type = void;
};
template <>
struct base_interface<ICommandText>
{
    using type = ICommand;
};

template <class Derived, class... Interfaces>
class standin_object : public Interfaces...
{
    using first_interface = std::tuple_element_t<0, std::tuple<Interfaces...>>;

public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        const HRESULT refused = static_cast<Derived*>(this)->refuse_interface(riid);
        if (FAILED(refused))
            return refused;
        if (IsEqualIID(riid, IID_IUnknown))
            *ppv = static_cast<IUnknown*>(static_cast<first_interface*>(this));
        else
            (find<Interfaces>(riid, ppv) || ...);
        if (!*ppv)
            return E_NOINTERFACE;
        static_cast<IUnknown*>(*ppv)->AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() noexcept override
    {
        const ULONG count = --references_;
        if (count == 0)
            delete static_cast<Derived*>(this);
        return count;
    }

    // Creates the object with one reference; E_OUTOFMEMORY instead of throwing.
    template <class... Args>
    static HRESULT create(Derived** out, Args&&... args) noexcept
    {
        *out = nullptr;
        Derived* object = nullptr;
        try
        {
            object = new (std::nothrow) Derived(std::forward<Args>(args)...);
        }
        catch (...)
        {
            return E_OUTOFMEMORY;
        }
        if (!object)
            return E_OUTOFMEMORY;
        *out = object;
        return S_OK;
    }
    // Creates the object and queries it for riid; *ppv then holds the only reference.
    template <class... Args>
    static HRESULT create_instance(REFIID riid, void** ppv, Args&&... args) noexcept
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        Derived* object = nullptr;
        HRESULT hr = create(&object, std::forward<Args>(args)...);
        if (FAILED(hr))
            return hr;
        hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }

protected:
    standin_object() noexcept { ++counters().live_objects; }
    virtual ~standin_object() { --counters().live_objects; }
    standin_object(const standin_object&) = delete;
    standin_object& operator=(const standin_object&) = delete;

    // A class hides this to refuse an interface it has (fault injection); S_OK lets the query go on.
    HRESULT refuse_interface(REFIID) noexcept { return S_OK; }

private:
    template <class I>
    bool find(REFIID riid, void** ppv) noexcept
    {
        if (IsEqualIID(riid, iid_of<I>()))
        {
            *ppv = static_cast<I*>(this);
            return true;
        }
        using base = typename base_interface<I>::type;
        if constexpr (!std::is_void_v<base>)
        {
            if (IsEqualIID(riid, iid_of<base>()))
            {
                *ppv = static_cast<base*>(static_cast<I*>(this));
                return true;
            }
        }
        return false;
    }

    std::atomic<ULONG> references_{1};
};

// A task-allocator copy of text (what the search interfaces hand out); null when memory ran out.
inline wchar_t* task_string(std::wstring_view text) noexcept
{
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    if (!copy)
        return nullptr;
    text.copy(copy, text.size());
    copy[text.size()] = L'\0';
    return copy;
}

// Hands text out through an LPWSTR* out-parameter.
inline HRESULT put_task_string(std::wstring_view text, LPWSTR* out) noexcept
{
    if (!out)
        return E_POINTER;
    *out = task_string(text);
    return *out ? S_OK : E_OUTOFMEMORY;
}

// Sets the thread's error object, as an OLE DB provider reports why a call failed.
void set_error_info(const IID& source, std::wstring_view description) noexcept;

// Runs a method body so that no exception leaves the stand-in.
template <class Body>
HRESULT guarded(Body&& body) noexcept
{
    try
    {
        return body();
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        return E_FAIL;
    }
}
} // namespace search_standin
