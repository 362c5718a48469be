// GetUIObjectOf: the objects that act on the folder's items. Items that stand for real files (results,
// quick pins, and groups for their menu and data object) are served by the real folder that holds the
// file, with only its context menu and data object wrapped; the extension's virtual folders get objects
// of its own.

#include "namespace/search_and_action_shell_folder.h"

#include "commands/search_folder_file_context_menu.h"
#include "commands/search_folder_file_drop_target.h"
#include "commands/search_result_context_menu.h"
#include "icons/icon_handler.h"
#include "items/path_cache.h"
#include "items/search_and_action_item_data.h"
#include "namespace/real_parent_cache.h"
#include "namespace/search_result_data_object.h"
#include "namespace/selection_menu.h"
#include "quick_pins/quick_pins_drop_target.h"

#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

namespace selection_menu_detail
{
namespace
{
HRESULT shell_item_array_menu(IShellItemArray* items, IContextMenu** out)
{
    return items->BindToHandler(nullptr, BHID_SFUIObject, IID_IContextMenu, reinterpret_cast<void**>(out));
}

std::atomic<real_menu_maker> menu_maker{&shell_item_array_menu};
} // namespace

HRESULT real_menu_of(IShellItemArray* items, IContextMenu** out)
{
    return menu_maker.load()(items, out);
}

real_menu_maker replace_real_menu_maker(real_menu_maker maker) noexcept
{
    return menu_maker.exchange(maker ? maker : &shell_item_array_menu);
}
} // namespace selection_menu_detail

namespace
{
// The interface id in registry form, or "??".
std::wstring iid_text(REFIID riid)
{
    unique_cotaskmem_string text;
    if (FAILED(StringFromIID(riid, text.put())) || !text)
        return L"??";
    return text.get();
}

// The real file's absolute list through the path cache; E_FAIL when the parse gave nothing.
HRESULT parse_path(const std::wstring& path, unique_absolute_id_list& out) noexcept
{
    PIDLIST_ABSOLUTE list = nullptr;
    HRESULT hr = path_cache_lookup(path, &list);
    out.reset(list);
    if (SUCCEEDED(hr) && !out)
        hr = E_FAIL;
    return hr;
}

com_ptr<search_result_context_menu> new_context_menu(HRESULT& hr) noexcept
{
    search_result_context_menu* menu = nullptr;
    hr = create_search_result_context_menu(&menu);
    return com_ptr<search_result_context_menu>::attach(SUCCEEDED(hr) ? menu : nullptr);
}

// The real folder's context menu for `path` (a quick pins group), wrapped; with a location, the menu
// offers "Rename group".
HRESULT wrap_real_context_menu_for_path(HWND owner, const std::wstring& path,
                                        PCIDLIST_ABSOLUTE folder, UINT* reserved, void** out, const std::wstring& location)
{
    unique_absolute_id_list list;
    HRESULT hr = parse_path(path, list);
    if (FAILED(hr))
    {
        log_message(log_level::warning, L"wrap_real_context_menu_for_path: parse failed 0x{:X} for {}", hresult_bits(hr),
                    path);
        return hr;
    }
    com_ptr<IShellFolder> parent;
    PCUITEMID_CHILD last = nullptr;
    hr = bind_real_parent(list.get(), parent, last);
    if (FAILED(hr))
    {
        log_message(log_level::warning, L"wrap_real_context_menu_for_path: SHBindToParent failed 0x{:X} for {}",
                    hresult_bits(hr), path);
        return hr;
    }
    com_ptr<IContextMenu> real;
    hr = parent->GetUIObjectOf(owner, 1, &last, IID_IContextMenu, reserved, real.put_void());
    if (FAILED(hr))
    {
        log_message(log_level::warning, "wrap_real_context_menu_for_path: real GetUIObjectOf failed 0x{:X}",
                    hresult_bits(hr));
        return hr;
    }
    auto menu = new_context_menu(hr);
    if (FAILED(hr))
        return hr;
    const unique_absolute_id_list item = list.clone();
    if (!item)
        return E_OUTOFMEMORY;
    hr = menu->initialize_single(real.get(), item.get(), std::move(list), folder, path);
    if (FAILED(hr))
        return hr;
    if (!location.empty())
    {
        hr = menu->set_pin_data(path, location, true);
        if (FAILED(hr))
            return hr;
    }
    return menu->QueryInterface(IID_IContextMenu, out);
}
} // namespace

STDMETHODIMP search_and_action_shell_folder::GetUIObjectOf(HWND owner, UINT count, PCUITEMID_CHILD_ARRAY children,
                                                           REFIID riid, UINT* reserved, void** out) noexcept
{
    return com_boundary("GetUIObjectOf", [&]() -> HRESULT {
        if (out)
            *out = nullptr;
        if (count == 0 || !children || !out)
            return E_INVALIDARG;
        const auto* first = own_item_data(children[0]);
        if (!first)
            return E_INVALIDARG;
        switch (static_cast<item_kind>(first->kind))
        {
        case item_kind::root:
            // The root's own one-command menu.
            return IsEqualIID(riid, IID_IContextMenu) ? QueryInterface(IID_IContextMenu, out) : E_NOINTERFACE;
        case item_kind::organized_folder:
        case item_kind::organized_search:
            return own_ui_object(count, children, riid, out);
        case item_kind::quick_pins_group:
            if (IsEqualIID(riid, IID_IContextMenu))
            {
                const auto folder = absolute_id_list();
                return wrap_real_context_menu_for_path(owner, item_path(first), folder.get(), reserved, out,
                                                       item_container_folder(first));
            }
            if (IsEqualIID(riid, IID_IDataObject))
                return group_data_object(first, out);
            return own_ui_object(count, children, riid, out);
        case item_kind::search_result:
        case item_kind::quick_pin:
            if (count >= 2 && (IsEqualIID(riid, IID_IDataObject) || IsEqualIID(riid, IID_IContextMenu)))
                return selection_ui_object(count, children, riid, out);
            return file_ui_object(owner, first, riid, reserved, out);
        }
        return E_INVALIDARG;
    });
}

// Organised folders and searches, and groups for everything but their menu and data object.
HRESULT search_and_action_shell_folder::own_ui_object(UINT count, PCUITEMID_CHILD_ARRAY children, REFIID riid,
                                                      void** out)
{
    const PCUITEMID_CHILD child = children[0];
    const auto* item = own_item_data(child);
    const bool group = item->kind == static_cast<std::uint8_t>(item_kind::quick_pins_group);
    if (IsEqualIID(riid, IID_IDropTarget) && group)
    {
        const std::wstring path = item_path(item);
        unique_absolute_id_list group_list;
        if (!path.empty())
            if (const auto folder = absolute_id_list())
                group_list.reset(ILCombine(folder.get(), child));
        return create_quick_pins_drop_target(path, path.empty() ? nullptr : group_list.get(), riid, out);
    }
    if (IsEqualIID(riid, IID_IExtractIconW))
        return create_icon_handler(child, riid, out);
    if (group)
        return E_NOINTERFACE;
    if (IsEqualIID(riid, IID_IDropTarget))
        return create_search_folder_file_drop_target(child, riid, out);
    if (IsEqualIID(riid, IID_IContextMenu))
        return create_search_folder_file_context_menu(this, child, riid, out);
    if (IsEqualIID(riid, IID_IDataObject))
    {
        const auto folder = absolute_id_list();
        if (!folder)
        {
            log_message(log_level::warning, "GetUIObjectOf: IDataObject requested before folder pidl was initialized");
            return E_UNEXPECTED;
        }
        const HRESULT hr = SHCreateDataObject(folder.get(), count, children, nullptr, riid, out);
        if (FAILED(hr))
            log_message(log_level::warning, "GetUIObjectOf: SHCreateDataObject failed 0x{:X}", hresult_bits(hr));
        return hr;
    }
    return E_NOINTERFACE;
}

// A group's data object: the real folder's, for the group folder, wrapped.
HRESULT search_and_action_shell_folder::group_data_object(const search_and_action_item_data* item, void** out)
{
    const std::wstring path = item_path(item);
    unique_absolute_id_list list;
    HRESULT hr = parse_path(path, list);
    if (FAILED(hr))
        return hr;
    com_ptr<IShellFolder> parent;
    PCUITEMID_CHILD last = nullptr;
    hr = bind_real_parent(list.get(), parent, last);
    if (FAILED(hr))
        return hr;
    com_ptr<IDataObject> real;
    hr = parent->GetUIObjectOf(nullptr, 1, &last, IID_IDataObject, nullptr, real.put_void());
    if (FAILED(hr))
        return hr;
    const auto folder = absolute_id_list();
    return create_search_result_data_object(real.get(), folder.get(), {path}, IID_IDataObject, out);
}

// Several results or pins: one menu or data object of the real file system for all of them.
HRESULT search_and_action_shell_folder::selection_ui_object(UINT count, PCUITEMID_CHILD_ARRAY children, REFIID riid,
                                                            void** out)
{
    std::vector<std::wstring> paths;
    std::vector<unique_absolute_id_list> lists;
    // A pin's menu acts on its shortcut, never on its target: the menu needs each pin's shortcut and group.
    std::vector<search_result_context_menu::selected_pin> pins;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count && SUCCEEDED(hr); ++i)
    {
        const auto* item = own_item_data(children[i]);
        if (!item || !is_valid_item_kind(item->kind) ||
            (item->kind != static_cast<std::uint8_t>(item_kind::search_result) &&
             item->kind != static_cast<std::uint8_t>(item_kind::quick_pin)))
        {
            hr = E_INVALIDARG;
            break;
        }
        paths.push_back(item_path(item));
        if (item->kind == static_cast<std::uint8_t>(item_kind::quick_pin))
            pins.push_back({item_link_path(item), item_container_folder(item)});
        lists.emplace_back();
        hr = parse_path(paths.back(), lists.back());
    }
    if (FAILED(hr))
    {
        lists.clear();
        log_message(log_level::warning, "GetUIObjectOf: multi-select resolution failed 0x{:X}", hresult_bits(hr));
        return hr;
    }

    com_ptr<IShellItemArray> array;
    if (const auto desktop = desktop_folder())
    {
        std::vector<PCUITEMID_CHILD> items;
        for (const auto& list : lists)
            items.push_back(reinterpret_cast<PCUITEMID_CHILD>(list.get()));
        hr = SHCreateShellItemArray(nullptr, desktop.get(), count, items.data(), array.put());
    }
    else
        hr = E_UNEXPECTED;
    lists.clear();
    if (FAILED(hr))
    {
        log_message(log_level::warning, "GetUIObjectOf: multi-select SHCreateShellItemArray failed 0x{:X}",
                    hresult_bits(hr));
        return hr;
    }
    const auto folder = absolute_id_list();

    if (IsEqualIID(riid, IID_IDataObject))
    {
        com_ptr<IDataObject> real;
        hr = array->BindToHandler(nullptr, BHID_DataObject, IID_IDataObject, real.put_void());
        if (FAILED(hr))
        {
            log_message(log_level::warning, "GetUIObjectOf: multi-select IDataObject from IShellItemArray failed 0x{:X}",
                        hresult_bits(hr));
            return hr;
        }
        return create_search_result_data_object(real.get(), folder.get(), std::move(paths), riid, out);
    }
    com_ptr<IContextMenu> real;
    hr = selection_menu_detail::real_menu_of(array.get(), real.put());
    if (FAILED(hr))
    {
        log_message(log_level::warning, "GetUIObjectOf: multi-select IContextMenu BindToHandler failed 0x{:X}",
                    hresult_bits(hr));
        return hr;
    }
    auto menu = new_context_menu(hr);
    if (FAILED(hr))
        return hr;
    hr = menu->initialize_multi(real.get(), std::move(paths), folder.get());
    if (SUCCEEDED(hr))
        hr = menu->set_selected_pins(std::move(pins));
    if (FAILED(hr))
        return hr;
    return menu->QueryInterface(riid, out);
}

// One result or pin: the real parent folder's object for the file, its menu and data object wrapped.
HRESULT search_and_action_shell_folder::file_ui_object(HWND owner, const search_and_action_item_data* item, REFIID riid,
                                                       UINT* reserved, void** out)
{
    const std::wstring path = item_path(item);
    unique_absolute_id_list list;
    HRESULT hr = parse_path(path, list);
    if (FAILED(hr))
    {
        log_message(log_level::warning, "GetUIObjectOf: filesystem pidl parse failed with HRESULT 0x{:X}",
                    hresult_bits(hr));
        return hr;
    }
    com_ptr<IShellFolder> parent;
    PCUITEMID_CHILD last = nullptr;
    hr = bind_real_parent(list.get(), parent, last);
    if (FAILED(hr))
    {
        log_message(log_level::warning, L"GetUIObjectOf: {}: SHBindToParent failed with HRESULT 0x{:X} file: {}",
                    iid_text(riid), hresult_bits(hr), path);
        return hr;
    }

    if (IsEqualIID(riid, IID_IContextMenu))
    {
        com_ptr<IContextMenu> real;
        hr = parent->GetUIObjectOf(owner, 1, &last, IID_IContextMenu, reserved, real.put_void());
        if (FAILED(hr))
        {
            log_message(log_level::error, "GetUIObjectOf: Parent::GetUIObjectOf failed with HRESULT 0x{:X} {}",
                        hresult_bits(hr), hresult_message_narrow(hr));
            return hr;
        }
        auto menu = new_context_menu(hr);
        if (FAILED(hr))
        {
            log_message(log_level::error, "GetUIObjectOf: CreateInstance of context menu failed with HRESULT 0x{:X} {}",
                        hresult_bits(hr), hresult_message_narrow(hr));
            return hr;
        }
        const unique_absolute_id_list item_list = list.clone();
        hr = item_list ? menu->initialize_single(real.get(), item_list.get(), std::move(list), absolute_id_list().get(), path)
                       : E_OUTOFMEMORY;
        if (FAILED(hr))
        {
            log_message(log_level::error, "GetUIObjectOf: Failed to initialize wrapper 0x{:X} {}", hresult_bits(hr),
                        hresult_message_narrow(hr));
            return hr;
        }
        if (item->kind == static_cast<std::uint8_t>(item_kind::quick_pin))
        {
            hr = menu->set_pin_data(item_link_path(item), item_container_folder(item), false);
            if (FAILED(hr))
                return hr;
        }
        hr = menu->QueryInterface(IID_IContextMenu, out);
        if (FAILED(hr))
            log_message(log_level::error, "GetUIObjectOf: QueryInterface on wrapper failed HRESULT 0x{:X}",
                        hresult_bits(hr));
        return hr;
    }

    if (IsEqualIID(riid, IID_IDataObject))
    {
        com_ptr<IDataObject> real;
        hr = parent->GetUIObjectOf(owner, 1, &last, IID_IDataObject, reserved, real.put_void());
        if (FAILED(hr))
        {
            log_message(log_level::warning, "GetUIObjectOf: IDataObject: parent failed 0x{:X}", hresult_bits(hr));
            return hr;
        }
        return create_search_result_data_object(real.get(), absolute_id_list().get(), {path}, riid, out);
    }

    // Thumbnails come from the thumbnail cache through the real item; the old extractor is not offered.
    if (IsEqualIID(riid, IID_IExtractImage))
        return E_NOTIMPL;

    const slow_operation_timer timer(L"GetUIObjectOf delegate " + iid_text(riid) + L" " + path);
    hr = parent->GetUIObjectOf(owner, 1, &last, riid, reserved, out);
    if (FAILED(hr) && hr != E_NOTIMPL && hr != E_NOINTERFACE)
        log_message(log_level::warning,
                    L"GetUIObjectOf: {}: Fallback to full delegation failed. Parent folder GetUIObjectOf unexpectedly "
                    L"failed with HRESULT 0x{:X} file: {}",
                    iid_text(riid), hresult_bits(hr), path);
    return hr;
}
