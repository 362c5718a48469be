#include "namespace/quick_pins_shell_folder.h"

#include <new>

HRESULT quick_pins_shell_folder::create_quick_pins_folder(search_and_action_shell_folder** out) noexcept
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    quick_pins_shell_folder* folder = nullptr;
    try
    {
        folder = new (std::nothrow) quick_pins_shell_folder();
    }
    catch (...)
    {
        folder = nullptr;
    }
    if (!folder)
        return E_OUTOFMEMORY;
    if (!folder->lock_.initialized())
    {
        folder->Release();
        return E_OUTOFMEMORY;
    }
    *out = folder;
    return S_OK;
}
