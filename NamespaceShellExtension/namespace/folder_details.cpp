// Columns, sort order, renaming and the view of the folder.

#include "namespace/search_and_action_shell_folder.h"

STDMETHODIMP search_and_action_shell_folder::CompareIDs(LPARAM, PCUIDLIST_RELATIVE, PCUIDLIST_RELATIVE) noexcept
{
    return E_NOTIMPL;
}

STDMETHODIMP search_and_action_shell_folder::CreateViewObject(HWND, REFIID, void** out) noexcept
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP search_and_action_shell_folder::SetNameOf(HWND, PCUITEMID_CHILD, LPCWSTR, SHGDNF, PITEMID_CHILD* out) noexcept
{
    if (out)
        *out = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP search_and_action_shell_folder::GetDefaultColumnState(UINT, SHCOLSTATEF*) noexcept
{
    return E_NOTIMPL;
}

STDMETHODIMP search_and_action_shell_folder::GetDetailsEx(PCUITEMID_CHILD, const SHCOLUMNID*, VARIANT*) noexcept
{
    return E_NOTIMPL;
}

STDMETHODIMP search_and_action_shell_folder::GetDetailsOf(PCUITEMID_CHILD, UINT, SHELLDETAILS*) noexcept
{
    return E_NOTIMPL;
}

STDMETHODIMP search_and_action_shell_folder::MapColumnToSCID(UINT, SHCOLUMNID*) noexcept
{
    return E_NOTIMPL;
}
