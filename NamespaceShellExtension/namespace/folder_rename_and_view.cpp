// Renaming the folder's items in place (SetNameOf) and the objects a folder makes for its own window
// (CreateViewObject): its background menu, its drop target and the shell's default view with our
// callback.

#include "base/module_folder.h"
#include "base/namespace_module.h"
#include "namespace/folder_columns.h"
#include "namespace/search_and_action_shell_folder.h"
#include "namespace/shell_folder_view_cb.h"
#include "quick_pins/quick_pins_drop_target.h"
#include "quick_pins/quick_pins_store.h"
#include "search/search_cache.h"
#include "search/volume_guard.h"
#include "settings/namespace_settings.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace
{
constexpr std::size_t max_item_path = 520;

// Blanks and dots at the end go, as the file system drops them; a name with a character that no file
// name may hold, or with nothing left, is refused.
std::optional<std::wstring_view> usable_file_name(std::wstring_view name) noexcept
{
    for (const wchar_t c : name)
        if (c < 0x20 || std::wstring_view(L"\"/:*?<>|\\").find(c) != std::wstring_view::npos)
            return std::nullopt;
    while (!name.empty() && (name.back() == L' ' || name.back() == L'.'))
        name.remove_suffix(1);
    if (name.empty())
        return std::nullopt;
    return name;
}

template <std::size_t N>
void set_field(wchar_t (&field)[N], std::wstring_view text) noexcept
{
    const std::size_t count = std::min(text.size(), N - 1);
    std::memset(field, 0, sizeof(field));
    std::memcpy(field, text.data(), count * sizeof(wchar_t));
}

bool equal_ignoring_case_ordinal(std::wstring_view a, std::wstring_view b) noexcept
{
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

} // namespace

view_mode_choice choose_view_mode(bool quick_pins, const std::vector<std::wstring>& names)
{
    view_mode_choice details;
    if (quick_pins || names.empty())
        return details;
    std::optional<std::wstring> default_view;
    try
    {
        namespace_settings::settings_file configuration(module_instance);
        if (configuration.load(false))
        {
            for (const auto& folder : configuration.folders())
            {
                if (equal_ignoring_case_ordinal(folder.name, names.front()))
                {
                    default_view = folder.default_view;
                    break;
                }
            }
        }
    }
    catch (const std::bad_alloc&)
    {
        throw;
    }
    catch (...)
    {
        log_caught_exception("CreateViewObject");
    }
    const bool large = default_view ? equal_ignoring_case_ordinal(*default_view, L"extra_large_icons")
                                    : equal_ignoring_case_ordinal(names.front(), L"People");
    return large ? view_mode_choice{FVM_ICON, 256} : details;
}
// Renames a result file, a pin or a group on disk and hands out the item's new identifier.
STDMETHODIMP search_and_action_shell_folder::SetNameOf(HWND, PCUITEMID_CHILD child, LPCWSTR new_name, SHGDNF,
                                                       PITEMID_CHILD* out) noexcept
{
    if (out)
        *out = nullptr;
    return com_boundary("SetNameOf", [&]() -> HRESULT {
        if (!child || !new_name || !*new_name)
            return E_INVALIDARG;
        const auto* item = own_item_data(child);
        if (!item)
        {
            log_message(log_level::warning, "SetNameOf: not an item identifier of this folder");
            return E_NOTIMPL;
        }
        const auto kind = static_cast<item_kind>(item->kind);
        if (kind != item_kind::search_result && kind != item_kind::quick_pin && kind != item_kind::quick_pins_group)
            return E_NOTIMPL;

        const auto name = usable_file_name(new_name);
        if (!name)
            return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
        // Made before anything changes, so that running out of memory changes nothing.
        unique_child_id renamed(ILCloneFirst(child));
        if (!renamed)
            return E_OUTOFMEMORY;
        auto* data = own_item_data(renamed.get());

        if (kind == item_kind::search_result)
        {
            const std::wstring old_path(field_view(item->path));
            // The parent of a file right below a root ends in the root's separator (C:\ or \\?\C:\).
            const std::wstring new_path = join_path(path_parent(old_path), *name);
            if (new_path.size() > max_item_path)
                return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
            if (!is_volume_responsive(old_path))
            {
                log_message(log_level::warning, L"SetNameOf: the volume of {} does not answer", old_path);
                return HRESULT_FROM_WIN32(ERROR_NOT_READY);
            }
            const auto folder = absolute_id_list();
            if (!MoveFileExW(old_path.c_str(), new_path.c_str(), MOVEFILE_COPY_ALLOWED))
            {
                const DWORD error = GetLastError();
                log_message(log_level::error, L"SetNameOf: MoveFileExW failed: {} -> {}, error {}", old_path, new_path,
                            error);
                return HRESULT_FROM_WIN32(error);
            }
            try
            {
                process_search_cache().rename_result_path(old_path, new_path);
            }
            catch (...)
            {
                // The cache could not follow: put the file back, so that nothing changed.
                MoveFileExW(new_path.c_str(), old_path.c_str(), MOVEFILE_COPY_ALLOWED);
                throw;
            }
            SHChangeNotify(SHCNE_RENAMEITEM, SHCNF_PATHW | SHCNF_FLUSHNOWAIT, old_path.c_str(), new_path.c_str());
            set_field(data->path, new_path);
            refresh_stamp(data);
            if (folder)
                SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_IDLIST | SHCNF_FLUSHNOWAIT, folder.get(), nullptr);
        }
        else
        {
            const bool is_group = kind == item_kind::quick_pins_group;
            const std::wstring old_path(is_group ? field_view(item->path) : field_view(item->link_path));
            if (old_path.empty())
            {
                // A configured target, not a pin file of a group: there is nothing to rename.
                log_message(log_level::warning, "SetNameOf: the item has no pin file to rename");
                return E_INVALIDARG;
            }
            const auto result = rename_pin_file(old_path, is_group, new_name);
            if (result.error != ERROR_SUCCESS)
                return HRESULT_FROM_WIN32(result.error);
            set_field(data->name, *name);
            if (is_group)
                set_field(data->path, result.path);
            else
                set_field(data->link_path, result.path);
            refresh_stamp(data);
            critical_section_lock hold(lock_);
            if (absolute_id_list_)
                SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_IDLIST | SHCNF_FLUSHNOWAIT, absolute_id_list_.get(), nullptr);
        }
        if (out)
            *out = renamed.release();
        return S_OK;
    });
}

namespace
{
// Files dropped into a group's open view are pinned into that group; into the Quick pins root's view
// only when the root stands for a single group (it then shows that group's pins). Anywhere else there
// is no single group to pin into, and no drop target.
HRESULT create_view_drop_target(const search_and_action_shell_folder& folder, REFIID riid, void** out)
{
    std::wstring group = folder.group_path();
    if (group.empty() && folder.is_quick_pins() && folder.names().empty())
    {
        const auto groups = get_pin_groups();
        if (groups.size() == 1)
            group = groups.front().folder;
    }
    if (group.empty())
        return E_NOINTERFACE;
    return create_quick_pins_drop_target(group, folder.absolute_id_list().get(), riid, out);
}
} // namespace

// The folder's background menu, its drop target, or the shell's default view with our callback.
STDMETHODIMP search_and_action_shell_folder::CreateViewObject(HWND, REFIID riid, void** out) noexcept
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    return com_boundary("CreateViewObject", [&]() -> HRESULT {
        if (IsEqualIID(riid, IID_IContextMenu))
            return QueryInterface(riid, out);
        if (IsEqualIID(riid, IID_IDropTarget))
            return create_view_drop_target(*this, riid, out);
        if (!IsEqualIID(riid, IID_IShellView))
            return E_NOINTERFACE;

        const auto folder = absolute_id_list();
        const auto choice = choose_view_mode(is_quick_pins(), names());
        com_ptr<shell_folder_view_cb> callback;
        HRESULT hr = shell_folder_view_cb::create_callback(folder.get(), choice.mode, choice.icon_size, callback.put());
        if (FAILED(hr))
            return hr;
        SFV_CREATE create{};
        create.cbSize = sizeof(create);
        create.pshf = static_cast<IShellFolder*>(static_cast<IShellFolder2*>(this));
        create.psfvcb = callback.get();
        com_ptr<IShellView> view;
        hr = SHCreateShellFolderView(&create, view.put());
        if (FAILED(hr))
        {
            log_message(log_level::warning, "CreateViewObject: SHCreateShellFolderView failed with HRESULT 0x{:X}",
                        hresult_bits(hr));
            return hr;
        }
        if (auto folder_view = view.try_query<IShellFolderView>())
            callback->set_folder_view(folder_view.get());
        return view.query_to(riid, out);
    });
}
