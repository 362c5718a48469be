// The folder's own background menu: "Customize navigation".

#include "namespace/search_and_action_shell_folder.h"

STDMETHODIMP search_and_action_shell_folder::QueryContextMenu(HMENU, UINT, UINT, UINT, UINT) noexcept
{
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
}

STDMETHODIMP search_and_action_shell_folder::InvokeCommand(CMINVOKECOMMANDINFO*) noexcept
{
    return E_INVALIDARG;
}

STDMETHODIMP search_and_action_shell_folder::GetCommandString(UINT_PTR, UINT, UINT*, CHAR*, UINT) noexcept
{
    return E_NOTIMPL;
}
