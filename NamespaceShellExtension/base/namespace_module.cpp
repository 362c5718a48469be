#include "base/namespace_module.h"

HINSTANCE module_instance = nullptr;

namespace_module::namespace_module() noexcept
{
    initialization_failed_ = !class_object_lock_.initialized();
}

// The cached class objects are released before this (module/class_objects.cpp).
namespace_module::~namespace_module()
{
    if (auto* git = git_.exchange(nullptr))
        git->Release();
}

namespace_module& the_module() noexcept
{
    static namespace_module module;
    return module;
}

namespace
{
// Constructed during static initialisation, so DllMain finds the initialisation-failed flag set.
[[maybe_unused]] namespace_module& module_at_startup = the_module();
} // namespace

HRESULT namespace_module::global_interface_table(IGlobalInterfaceTable** git) noexcept
{
    if (!git)
        return E_POINTER;
    *git = nullptr;
    if (!git_.load())
    {
        IGlobalInterfaceTable* created = nullptr;
        const HRESULT hr = CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_IGlobalInterfaceTable, reinterpret_cast<void**>(&created));
        if (FAILED(hr))
            return hr;
        IGlobalInterfaceTable* expected = nullptr;
        if (!git_.compare_exchange_strong(expected, created))
            created->Release();
    }
    *git = git_.load();
    (*git)->AddRef();
    return S_OK;
}
