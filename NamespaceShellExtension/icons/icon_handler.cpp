#include "icons/icon_handler.h"

#include "commands/module_folder.h"
#include "module/com_boundary.h"
#include "module/com_object.h"
#include "module/namespace_module.h"
#include "module/raii.h"
#include "namespace/search_and_action_item_data.h"
#include "search/volume_guard.h"

#include <shellapi.h>

#include <cwctype>

namespace
{
bool is_separator(wchar_t c) noexcept
{
    return c == L'\\' || c == L'/';
}

bool is_absolute(std::wstring_view path) noexcept
{
    if (path.size() >= 3 && std::iswalpha(path[0]) && path[1] == L':' && is_separator(path[2]))
        return true;
    return path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]);
}

// The DLL's folder never changes while it is loaded; GetModuleFileNameW takes the loader lock, so read it
// once rather than on every icon the view asks for.
const std::wstring& dll_folder()
{
    static const std::wstring folder = module_folder(module_instance);
    return folder;
}

// Copies `text` as GetIconLocation's callers expect: cut to size - 1 characters and always terminated;
// a size of 0 leaves the buffer alone, an absurd size (a negative int seen as unsigned) gets a
// terminator only.
void copy_location(std::wstring_view text, wchar_t* buffer, UINT size) noexcept
{
    if (size == 0)
        return;
    if (size > 0x7FFFFFFF)
    {
        buffer[0] = L'\0';
        return;
    }
    const std::size_t length = std::min<std::size_t>(text.size(), size - 1);
    std::wmemcpy(buffer, text.data(), length);
    buffer[length] = L'\0';
}

class icon_handler : public com_object<icon_handler, IExtractIconW>
{
public:
    // IExtractIconW: where the item's icon lives; the shell loads it from there.
    STDMETHODIMP GetIconLocation(UINT flags, PWSTR icon_file, UINT size, int* index, UINT* icon_flags) noexcept override;
    // IExtractIconW: leaves the extraction to the shell (S_FALSE).
    STDMETHODIMP Extract(PCWSTR icon_file, UINT index, HICON* large, HICON* small, UINT sizes) noexcept override;

private:
    friend class com_object<icon_handler, IExtractIconW>;
    icon_handler() noexcept = default;

    HRESULT initialize(PCUITEMID_CHILD item) noexcept
    {
        if (!lock_.initialized())
            return HRESULT_FROM_WIN32(GetLastError());
        if (!own_item_data(item))
            return E_INVALIDARG;
        item_.reset(reinterpret_cast<PITEMID_CHILD>(ILCloneFirst(item)));
        return item_ ? S_OK : E_OUTOFMEMORY;
    }

    HRESULT group_location(const search_and_action_item_data* item, wchar_t* buffer, UINT size, int* index,
                           UINT* icon_flags) const;

    // Set once at creation, read-only afterwards: calls need no lock.
    critical_section lock_;
    unique_child_id item_;
};

STDMETHODIMP icon_handler::GetIconLocation(UINT, PWSTR icon_file, UINT size, int* index, UINT* icon_flags) noexcept
{
    if (!icon_file || !index || !icon_flags)
        return E_INVALIDARG;
    const auto* item = own_item_data(item_.get());
    if (!item)
        return E_FAIL;
    return com_boundary("GetIconLocation", [&]() -> HRESULT {
        switch (static_cast<item_kind>(item->kind))
        {
        case item_kind::quick_pins_group:
            return group_location(item, icon_file, size, index, icon_flags);
        case item_kind::organized_folder:
        case item_kind::organized_search:
        {
            const std::wstring path = resolve_icon_path(item_icon(item));
            if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
                log_message(log_level::warning, L"Icon file does not exist. Investigate. File: {}", path);
            *index = 0;
            *icon_flags = GIL_PERINSTANCE;
            copy_location(path, icon_file, size);
            return S_OK;
        }
        default:
            *index = 0;
            *icon_flags = GIL_PERINSTANCE;
            copy_location({}, icon_file, size);
            return S_OK;
        }
    });
}

HRESULT icon_handler::group_location(const search_and_action_item_data* item, wchar_t* buffer, UINT size, int* index,
                                     UINT* icon_flags) const
{
    const std::wstring path = item_path(item);
    SHFILEINFOW info{};
    // The folder's own icon (a desktop.ini of its own, a special folder) needs the folder itself; on a
    // volume that does not answer, the generic folder icon below is all we may ask for.
    bool responsive = false;
    try
    {
        responsive = !path.empty() && is_volume_responsive(path);
    }
    catch (...)
    {
        log_caught_exception("GetIconLocation");
    }
    if (responsive &&
        SHGetFileInfoW(path.c_str(), 0, &info, sizeof(info), SHGFI_ICONLOCATION) != 0 && info.szDisplayName[0] != L'\0')
    {
        *index = info.iIcon;
        *icon_flags = GIL_PERINSTANCE | GIL_DONTCACHE;
        copy_location(info.szDisplayName, buffer, size);
        return S_OK;
    }
    info = {};
    if (SHGetFileInfoW(path.c_str(), FILE_ATTRIBUTE_DIRECTORY, &info, sizeof(info),
                       SHGFI_ICONLOCATION | SHGFI_USEFILEATTRIBUTES) != 0 &&
        info.szDisplayName[0] != L'\0')
    {
        *index = info.iIcon;
        *icon_flags = GIL_PERINSTANCE;
        copy_location(info.szDisplayName, buffer, size);
        return S_OK;
    }
    *index = 0;
    *icon_flags = GIL_PERINSTANCE;
    copy_location({}, buffer, size);
    return S_OK;
}

STDMETHODIMP icon_handler::Extract(PCWSTR, UINT, HICON* large, HICON* small, UINT) noexcept
{
    if (large)
        *large = nullptr;
    if (small)
        *small = nullptr;
    return S_FALSE;
}
} // namespace

HRESULT create_icon_handler(PCUITEMID_CHILD item, REFIID riid, void** out) noexcept
{
    return icon_handler::create_instance(riid, out, item);
}

std::wstring resolve_icon_path(std::wstring_view icon)
{
    if (is_absolute(icon))
        return std::wstring(icon);
    return join_path(dll_folder(), icon);
}
