// GetUIObjectOf: the objects that act on the folder's items.

#include "namespace/search_and_action_shell_folder.h"

STDMETHODIMP search_and_action_shell_folder::GetUIObjectOf(HWND, UINT, PCUITEMID_CHILD_ARRAY, REFIID, UINT*,
                                                           void** out) noexcept
{
    if (out)
        *out = nullptr;
    return E_NOINTERFACE;
}
