// The module's class objects: the lookup in the object map, the cache of one class factory per root,
// and their release when the DLL's static objects go.

#include "base/namespace_module.h"
#include "module/object_map.h"

#include <new>

HRESULT namespace_module::get_class_object(REFCLSID rclsid, REFIID riid, void** ppv) noexcept
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (initialization_failed_)
        return E_UNEXPECTED;

    for (auto* entry = object_map_begin(); entry != object_map_end(); ++entry)
    {
        if (!IsEqualCLSID(*entry->clsid, rclsid) || !entry->create_class_object)
            continue;

        HRESULT hr = S_OK;
        void* encoded = entry->cached_class_object.load(std::memory_order_acquire);
        if (!encoded)
        {
            critical_section_lock lock(class_object_lock_);
            encoded = entry->cached_class_object.load(std::memory_order_acquire);
            if (!encoded)
            {
                IUnknown* factory = nullptr;
                hr = entry->create_class_object(entry->create_instance, __uuidof(IUnknown),
                                                reinterpret_cast<void**>(&factory));
                if (SUCCEEDED(hr) && factory)
                {
                    encoded = EncodePointer(factory);
                    entry->cached_class_object.store(encoded, std::memory_order_release);
                }
            }
        }
        if (!encoded)
            return FAILED(hr) ? hr : CLASS_E_CLASSNOTAVAILABLE;
        auto* factory = static_cast<IUnknown*>(DecodePointer(encoded));
        return factory->QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

void namespace_module::release_class_objects() noexcept
{
    for (auto* entry = object_map_begin(); entry != object_map_end(); ++entry)
    {
        if (auto* encoded = entry->cached_class_object.exchange(nullptr))
        {
            static_cast<IUnknown*>(DecodePointer(encoded))->Release();
        }
    }
}

namespace
{
// The class factory handed out for both roots. Its first reference belongs to the module's cache and
// holds no module lock; every further reference does, as with ATL's cached objects.
class cached_class_factory final : public IClassFactory
{
public:
    explicit cached_class_factory(instance_creator create) noexcept : create_(create) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
            return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }

    STDMETHODIMP_(ULONG) AddRef() noexcept override
    {
        const ULONG count = ++references_;
        if (count == 2)
            the_module().lock();
        return count;
    }

    STDMETHODIMP_(ULONG) Release() noexcept override
    {
        const ULONG count = --references_;
        if (count == 1)
            the_module().unlock();
        else if (count == 0)
            delete this;
        return count;
    }

    // Creates a root folder object.
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return create_(nullptr, riid, ppv);
    }

    // Keeps the DLL loaded while the caller holds the lock.
    STDMETHODIMP LockServer(BOOL lock) noexcept override
    {
        if (lock)
            the_module().lock();
        else
            the_module().unlock();
        return S_OK;
    }

private:
    instance_creator create_;
    std::atomic<ULONG> references_{0};
};
} // namespace

HRESULT create_cached_class_factory(instance_creator create_instance, REFIID riid, void** ppv) noexcept
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    auto* factory = new (std::nothrow) cached_class_factory(create_instance);
    if (!factory)
        return E_OUTOFMEMORY;
    // The first reference is the cache's own.
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    if (FAILED(hr))
        delete factory;
    return hr;
}

namespace
{
// Releases the cached class objects when the DLL's static objects are destroyed (FreeLibrary after
// DllCanUnloadNow said yes, or process exit), before the module object: that is made first, by the
// constructor here, so it is destroyed after this.
struct class_objects_release
{
    class_objects_release() noexcept { the_module(); }
    ~class_objects_release() { the_module().release_class_objects(); }
    class_objects_release(const class_objects_release&) = delete;
    class_objects_release& operator=(const class_objects_release&) = delete;
} release_at_unload;
} // namespace
