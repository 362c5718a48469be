// The folder's own background menu: "Customize navigation", which opens the Settings app on its
// navigation tab.

#include "namespace/search_and_action_shell_folder.h"

#include "commands/settings_app_launcher.h"

#include <strsafe.h>

#include <string>
#include <vector>

namespace
{
constexpr wchar_t customize_navigation_text[] = L"Customize navigation";
constexpr wchar_t customize_navigation_verb[] = L"VLM.CustomizeNavigation";
constexpr char customize_navigation_verb_narrow[] = "VLM.CustomizeNavigation";
constexpr wchar_t customize_navigation_help[] = L"Open Pathwright settings";
constexpr UINT customize_navigation_offset = 1;

// The shell may ask the same menu twice (Explorer's view does when the menu is rebuilt); the item is
// added once, whoever added it first.
bool menu_has_item(HMENU menu, const wchar_t* text)
{
    const int count = GetMenuItemCount(menu);
    std::vector<wchar_t> buffer;
    for (int position = 0; position < count; ++position)
    {
        MENUITEMINFOW item{};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_STRING;
        if (!GetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &item) || item.cch == 0)
            continue;
        buffer.assign(item.cch + 1, L'\0');
        item.dwTypeData = buffer.data();
        item.cch = static_cast<UINT>(buffer.size());
        if (GetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &item) && std::wcscmp(buffer.data(), text) == 0)
            return true;
    }
    return false;
}
} // namespace

// Adds "Customize navigation" at `index` with the command id first + 1.
STDMETHODIMP search_and_action_shell_folder::QueryContextMenu(HMENU menu, UINT index, UINT first, UINT last,
                                                              UINT flags) noexcept
{
    return com_boundary("QueryContextMenu", [&]() -> HRESULT {
        if (flags & CMF_DEFAULTONLY)
            return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
        if (!IsMenu(menu))
            return E_INVALIDARG;
        // No room for our id in the range the shell gave us, or the item is there already.
        if (last < first + customize_navigation_offset || menu_has_item(menu, customize_navigation_text))
            return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);

        std::wstring text = customize_navigation_text;
        MENUITEMINFOW item{};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_ID | MIIM_STRING | MIIM_FTYPE;
        item.fType = MFT_STRING;
        item.wID = first + customize_navigation_offset;
        item.dwTypeData = text.data();
        if (!InsertMenuItemW(menu, index, TRUE, &item))
        {
            const DWORD error = GetLastError();
            return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
        }
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, customize_navigation_offset + 1);
    });
}

// Only the command offset 1, given as a number, is ours: it opens the Settings app on "pathwright".
STDMETHODIMP search_and_action_shell_folder::InvokeCommand(CMINVOKECOMMANDINFO* info) noexcept
{
    if (!info || info->cbSize < sizeof(CMINVOKECOMMANDINFO) || !IS_INTRESOURCE(info->lpVerb) ||
        LOWORD(reinterpret_cast<UINT_PTR>(info->lpVerb)) != customize_navigation_offset)
        return E_INVALIDARG;
    return com_boundary("InvokeCommand", [] {
        launch_settings_app("pathwright");
        return S_OK;
    });
}

STDMETHODIMP search_and_action_shell_folder::GetCommandString(UINT_PTR command, UINT type, UINT*, CHAR* buffer,
                                                              UINT size) noexcept
{
    if (command != customize_navigation_offset)
        return E_NOTIMPL;
    switch (type)
    {
    case GCS_VERBW:
        if (!buffer)
            return E_INVALIDARG;
        // Cut to the buffer; the shell sizes it for any verb.
        StringCchCopyW(reinterpret_cast<LPWSTR>(buffer), size, customize_navigation_verb);
        return S_OK;
    case GCS_VERBA:
        if (!buffer)
            return E_INVALIDARG;
        return SUCCEEDED(StringCchCopyA(buffer, size, customize_navigation_verb_narrow)) ? S_OK : E_FAIL;
    case GCS_HELPTEXTW:
        if (size < 51)
            return E_NOTIMPL;
        if (!buffer)
            return E_INVALIDARG;
        StringCchCopyW(reinterpret_cast<LPWSTR>(buffer), size, customize_navigation_help);
        return S_OK;
    default:
        return E_NOTIMPL;
    }
}
