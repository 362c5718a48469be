#include "module/namespace_module.h"

namespace
{
HRESULT update_registry_nothing(BOOL) { return S_OK; }
void object_main_nothing(bool) {}

// The folder objects of the two roots are not built yet; their class factories exist and answer
// E_NOTIMPL for instances.
HRESULT create_search_and_action_shell_folder(IUnknown* outer, REFIID, void** ppv)
{
    if (ppv)
        *ppv = nullptr;
    return outer ? CLASS_E_NOAGGREGATION : E_NOTIMPL;
}

HRESULT create_quick_pins_shell_folder(IUnknown* outer, REFIID, void** ppv)
{
    if (ppv)
        *ppv = nullptr;
    return outer ? CLASS_E_NOAGGREGATION : E_NOTIMPL;
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
