#include "module/object_map.h"
#include "namespace/search_and_action_shell_folder.h"

namespace
{
HRESULT update_registry_nothing(BOOL) { return S_OK; }
void object_main_nothing(bool) {}

HRESULT create_root_folder(bool is_quick_pins, IUnknown* outer, REFIID riid, void** ppv) noexcept
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    search_and_action_shell_folder* folder = nullptr;
    const HRESULT hr = search_and_action_shell_folder::create_folder(is_quick_pins, &folder);
    if (FAILED(hr))
        return hr;
    const HRESULT query = folder->QueryInterface(riid, ppv);
    folder->Release();
    return query;
}

HRESULT create_search_and_action_shell_folder(IUnknown* outer, REFIID riid, void** ppv)
{
    return create_root_folder(false, outer, riid, ppv);
}

HRESULT create_quick_pins_shell_folder(IUnknown* outer, REFIID riid, void** ppv)
{
    return create_root_folder(true, outer, riid, ppv);
}

object_map_entry object_map[] = {
    {&CLSID_search_and_action_shell_folder, update_registry_nothing, create_cached_class_factory,
     create_search_and_action_shell_folder, nullptr, object_main_nothing},
    {&CLSID_quick_pins_shell_folder, update_registry_nothing, create_cached_class_factory,
     create_quick_pins_shell_folder, nullptr, object_main_nothing},
};
} // namespace

object_map_entry* object_map_begin() noexcept { return std::begin(object_map); }
object_map_entry* object_map_end() noexcept { return std::end(object_map); }
