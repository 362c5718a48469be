#pragma once
// The object model every COM class of the DLL follows: an atomic reference count starting at 1, a
// module lock held for the object's lifetime, QueryInterface over a compile-time list of interfaces
// (with the bases they imply), and a noexcept creation function that reports E_OUTOFMEMORY.

#include "base/namespace_module.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <atomic>
#include <tuple>
#include <new>
#include <tuple>
#include <type_traits>
#include <utility>

template <class... T>
struct interface_list
{
};

// Interfaces that an interface implies and that QueryInterface must therefore also answer.
template <class I>
struct implied_interfaces
{
    using type = interface_list<>;
};
template <>
struct implied_interfaces<IShellFolder2>
{
    using type = interface_list<IShellFolder>;
};
template <>
struct implied_interfaces<IPersistFolder>
{
    using type = interface_list<IPersist>;
};
template <>
struct implied_interfaces<IPersistFolder2>
{
    using type = interface_list<IPersistFolder, IPersist>;
};
template <>
struct implied_interfaces<IPersistFolder3>
{
    using type = interface_list<IPersistFolder2, IPersistFolder, IPersist>;
};
template <>
struct implied_interfaces<IPersistIDList>
{
    using type = interface_list<IPersist>;
};
template <>
struct implied_interfaces<IContextMenu2>
{
    using type = interface_list<IContextMenu>;
};
template <>
struct implied_interfaces<IContextMenu3>
{
    using type = interface_list<IContextMenu2, IContextMenu>;
};
template <>
struct implied_interfaces<IEnumIDList>
{
    using type = interface_list<>;
};

// Holds one module lock while alive.
class module_lock
{
public:
    module_lock() noexcept { the_module().lock(); }
    ~module_lock() { the_module().unlock(); }
    module_lock(const module_lock&) noexcept : module_lock() {}
    module_lock& operator=(const module_lock&) noexcept { return *this; }
};

template <class Derived, class... Interfaces>
class com_object : public Interfaces...
{
    using first_interface = std::tuple_element_t<0, std::tuple<Interfaces...>>;

public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, __uuidof(IUnknown)))
            *ppv = static_cast<IUnknown*>(static_cast<first_interface*>(this));
        else
            (find_interface<Interfaces>(riid, ppv) || ...);
        if (!*ppv)
            return static_cast<Derived*>(this)->query_other_interface(riid, ppv);
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

    // Creates the object, runs its initialize(args...) and queries it for riid. The object starts with
    // one reference, which is dropped after the query, so *ppv holds the only one.
    template <class... Args>
    static HRESULT create_instance(REFIID riid, void** ppv, Args&&... args) noexcept
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        Derived* object = nullptr;
        HRESULT hr = create(&object, std::forward<Args>(args)...);
        if (SUCCEEDED(hr))
        {
            hr = object->QueryInterface(riid, ppv);
            object->Release();
        }
        return hr;
    }

    // Creates the object and hands out its implementation pointer with one reference.
    template <class... Args>
    static HRESULT create(Derived** out, Args&&... args) noexcept
    {
        *out = nullptr;
        Derived* object = nullptr;
        try
        {
            object = new (std::nothrow) Derived();
        }
        catch (...)
        {
            object = nullptr;
        }
        if (!object)
            return E_OUTOFMEMORY;
        HRESULT hr = E_FAIL;
        try
        {
            hr = object->initialize(std::forward<Args>(args)...);
        }
        catch (const std::bad_alloc&)
        {
            hr = E_OUTOFMEMORY;
        }
        catch (...)
        {
            hr = E_FAIL;
        }
        if (FAILED(hr))
        {
            object->Release();
            return hr;
        }
        *out = object;
        return S_OK;
    }

protected:
    com_object() noexcept = default;
    virtual ~com_object() = default;

    // Default: nothing to set up. A class hides this with its own initialize(...).
    HRESULT initialize() noexcept { return S_OK; }

    // Asked when none of the listed interfaces matched; a class may hide this to answer more.
    HRESULT query_other_interface(REFIID, void**) noexcept { return E_NOINTERFACE; }

    ULONG reference_count() const noexcept { return references_; }

private:
    template <class I>
    bool find_interface(REFIID riid, void** ppv) noexcept
    {
        if (IsEqualIID(riid, __uuidof(I)))
        {
            *ppv = static_cast<I*>(this);
            return true;
        }
        return find_implied<I>(riid, ppv, typename implied_interfaces<I>::type{});
    }

    template <class I, class... Bases>
    bool find_implied([[maybe_unused]] REFIID riid, [[maybe_unused]] void** ppv, interface_list<Bases...>) noexcept
    {
        return ((IsEqualIID(riid, __uuidof(Bases)) ? (*ppv = static_cast<Bases*>(static_cast<I*>(this)), true) : false) ||
                ...);
    }

    module_lock module_lock_;
    std::atomic<ULONG> references_{1};
};
