#include "namespace/shell_folder_view_cb.h"

#include "base/log.h"
#include "items/path_cache.h"
#include "items/search_and_action_item_data.h"
#include "namespace/property_formats.h"
#include "search/search_cache.h"

#include <commctrl.h>
#include <propkey.h>

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace
{
constexpr wchar_t searching_text[] = L"Searching...";
constexpr wchar_t nothing_found_text[] = L"No matching files were found.";

constexpr DWORD column_info_mask = 0x11; // CM_MASK_WIDTH | CM_MASK_STATE
} // namespace

const PROPERTYKEY default_view_columns[default_column_count] = {
    {format_storage, 10},  // System.ItemNameDisplay
    {format_storage, 12},  // System.Size
    {format_storage, 14},  // System.DateModified
    {format_summary, 5},   // System.Keywords
    {format_media, 9},     // System.Rating
    {format_people, 100},  // System.Photo.PeopleNames
    {format_location, 6},  // System.ItemFolderPathDisplay
    {format_storage, 4},   // System.ItemTypeText
};

UINT item_notify_message() noexcept
{
    static std::once_flag once;
    static UINT message = 0;
    try
    {
        std::call_once(once, [] { message = RegisterWindowMessageW(L"Velmora.NSE.ItemNotify"); });
    }
    catch (...)
    {
    }
    return message;
}

std::atomic<long> shell_folder_view_cb::live_registrations_{0};

HRESULT shell_folder_view_cb::create_callback(PCIDLIST_ABSOLUTE folder, FOLDERVIEWMODE view_mode, int icon_size,
                                              shell_folder_view_cb** out) noexcept
{
    if (!out)
        return E_POINTER;
    return create(out, folder, view_mode, icon_size);
}

HRESULT shell_folder_view_cb::initialize(PCIDLIST_ABSOLUTE folder, FOLDERVIEWMODE view_mode, int icon_size) noexcept
{
    if (!lock_.initialized())
        return E_OUTOFMEMORY;
    if (folder)
    {
        folder_.reset(ILCloneFull(folder));
        if (!folder_)
            return E_OUTOFMEMORY;
    }
    view_mode_ = view_mode;
    icon_size_ = icon_size;
    return S_OK;
}

shell_folder_view_cb::~shell_folder_view_cb()
{
    // Only reached once the window is gone or was never subclassed: the subclass holds a reference.
    end_registration();
}

STDMETHODIMP shell_folder_view_cb::MessageSFVCB(UINT message, WPARAM wparam, LPARAM lparam) noexcept
{
    switch (message)
    {
    case SFVM_FSNOTIFY:
        return static_cast<LONG>(lparam) == SHCNE_UPDATEITEM ? S_OK : E_NOTIMPL;
    case SFVM_WINDOWCREATED:
        window_created(reinterpret_cast<HWND>(wparam));
        return S_OK;
    case SFVM_DEFVIEWMODE:
    {
        {
            critical_section_lock hold(lock_);
            if (lparam)
                *reinterpret_cast<FOLDERVIEWMODE*>(lparam) = view_mode_;
            defaults_pending_ = true;
        }
        apply_defaults();
        return S_OK;
    }
    case SFVM_BACKGROUNDENUM:
        return S_OK;
    case SFVM_BACKGROUNDENUMDONE:
        set_empty_text(nothing_found_text);
        return S_OK;
    case SFVM_GETNOTIFY:
    {
        // The view does not free the list it gets here: it stays ours for the callback's life.
        critical_section_lock hold(lock_);
        if (wparam && lparam && folder_)
        {
            if (!notify_list_)
                notify_list_ = folder_.clone();
            if (notify_list_)
            {
                *reinterpret_cast<PIDLIST_ABSOLUTE*>(wparam) = notify_list_.get();
                *reinterpret_cast<LONG*>(lparam) = SHCNE_UPDATEITEM;
            }
        }
        return S_OK;
    }
    default:
        return E_NOTIMPL;
    }
}

void shell_folder_view_cb::set_folder_view(IShellFolderView* view) noexcept
{
    {
        critical_section_lock hold(lock_);
        folder_view_ = view;
    }
    apply_defaults();
}

void shell_folder_view_cb::apply_defaults() noexcept
{
    IShellFolderView* view = nullptr;
    FOLDERVIEWMODE mode{};
    int icon_size = 0;
    {
        critical_section_lock hold(lock_);
        if (!defaults_pending_ || !folder_view_ || applying_)
            return;
        defaults_pending_ = false;
        applying_ = true;
        view = folder_view_;
        mode = view_mode_;
        icon_size = icon_size_;
    }
    // The view owns this callback, so it outlives the calls below; one reference keeps that explicit.
    com_ptr<IShellFolderView> hold_view(view);

    if (auto columns = hold_view.try_query<IColumnManager>())
    {
        const HRESULT hr = columns->SetColumns(default_view_columns, default_column_count);
        if (FAILED(hr))
            log_message(log_level::warning, "Unable to set default search-folder columns: 0x{:08X}", hresult_bits(hr));
        else
        {
            for (const auto& key : default_view_columns)
            {
                CM_COLUMNINFO info{};
                info.cbSize = sizeof(info);
                info.dwMask = column_info_mask;
                info.dwState = CM_STATE_VISIBLE;
                info.uWidth = 0xFFFFFFFF;
                const HRESULT column_hr = columns->SetColumnInfo(key, &info);
                if (FAILED(column_hr))
                    log_message(log_level::warning, "Unable to initialize a default search-folder column: 0x{:08X}",
                                hresult_bits(column_hr));
            }
        }
    }
    if (icon_size > 0)
    {
        if (auto folder_view = hold_view.try_query<IFolderView2>())
            folder_view->SetViewModeAndIconSize(mode, icon_size);
    }

    critical_section_lock hold(lock_);
    defaults_pending_ = false;
    applying_ = false;
}

void shell_folder_view_cb::set_empty_text(const wchar_t* text) noexcept
{
    com_ptr<IShellFolderView> view;
    {
        critical_section_lock hold(lock_);
        view = com_ptr<IShellFolderView>(folder_view_);
    }
    if (auto folder_view = view.try_query<IFolderView2>())
        folder_view->SetText(FVST_EMPTYTEXT, text);
}

void shell_folder_view_cb::window_created(HWND window) noexcept
{
    {
        critical_section_lock hold(lock_);
        window_ = window;
    }
    set_empty_text(searching_text);

    unique_absolute_id_list desktop;
    {
        critical_section_lock hold(lock_);
        if (!window || !folder_ || subclassed_)
            return;
    }
    const UINT message = item_notify_message();
    if (!message)
        return;
    ULONG registration = 0;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, desktop.put())) && desktop)
    {
        SHChangeNotifyEntry entry{desktop.get(), TRUE};
        // One registration per view: a second SFVM_WINDOWCREATED replaces nothing.
        critical_section_lock hold(lock_);
        if (registration_ == 0)
        {
            registration_ = SHChangeNotifyRegister(window, SHCNRF_ShellLevel | SHCNRF_NewDelivery, SHCNE_UPDATEITEM,
                                                   message, 1, &entry);
            if (registration_ != 0)
                ++live_registrations_;
        }
        registration = registration_;
    }
    else
    {
        critical_section_lock hold(lock_);
        registration = registration_;
    }
    if (registration == 0)
        return;

    // The subclass keeps the callback alive until the window is destroyed, so the procedure never
    // reaches a callback that is gone.
    AddRef();
    if (SetWindowSubclass(window, subclass_procedure, 0, reinterpret_cast<DWORD_PTR>(this)))
    {
        critical_section_lock hold(lock_);
        subclassed_ = true;
    }
    else
    {
        Release();
    }
}

void shell_folder_view_cb::end_registration() noexcept
{
    ULONG registration = 0;
    {
        critical_section_lock hold(lock_);
        registration = std::exchange(registration_, 0UL);
    }
    if (registration != 0)
    {
        SHChangeNotifyDeregister(registration);
        --live_registrations_;
    }
}

void shell_folder_view_cb::window_destroyed() noexcept
{
    HWND window = nullptr;
    bool subclassed = false;
    {
        critical_section_lock hold(lock_);
        window = std::exchange(window_, nullptr);
        subclassed = std::exchange(subclassed_, false);
        // The view is going: nothing may be asked of it from here on.
        folder_view_ = nullptr;
    }
    end_registration();
    if (subclassed && window)
        RemoveWindowSubclass(window, subclass_procedure, 0);
}

LRESULT CALLBACK shell_folder_view_cb::subclass_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                                          UINT_PTR, DWORD_PTR data) noexcept
{
    auto* self = reinterpret_cast<shell_folder_view_cb*>(data);
    if (message == WM_DESTROY)
    {
        self->window_destroyed();
        const LRESULT result = DefSubclassProc(window, message, wparam, lparam);
        self->Release();
        return result;
    }
    if (message != item_notify_message() || message == 0)
        return DefSubclassProc(window, message, wparam, lparam);
    return self->on_item_notify(wparam, lparam);
}

LRESULT shell_folder_view_cb::on_item_notify(WPARAM wparam, LPARAM lparam) noexcept
{
    PIDLIST_ABSOLUTE* lists = nullptr;
    LONG event = 0;
    const HANDLE lock = SHChangeNotification_Lock(reinterpret_cast<HANDLE>(wparam), static_cast<DWORD>(lparam), &lists,
                                                  &event);
    if (!lock)
        return 0;
    // Cheap tests first: every item update of the whole system arrives here.
    wchar_t path[520] = {};
    const bool wanted = event == SHCNE_UPDATEITEM && lists && lists[0] && updated_file_path(lists[0], path);
    SHChangeNotification_Unlock(lock);
    if (wanted)
        update_listed_row(path);
    return 0;
}

bool shell_folder_view_cb::updated_file_path(PCIDLIST_ABSOLUTE item, wchar_t (&path)[520]) noexcept
{
    {
        critical_section_lock hold(lock_);
        // Our own items, announced below among others, are not files the searches list.
        if (!folder_ || ILIsParent(folder_.get(), item, FALSE))
            return false;
    }
    return SHGetPathFromIDListW(item, path) && path[0] != L'\0';
}

bool shell_folder_view_cb::update_listed_row(const wchar_t* path) noexcept
{
    try
    {
        std::vector<std::wstring> keywords;
        std::vector<std::wstring> people;
        const bool listed = process_search_cache().visit_listed_record(path, [&](const search_result_record& record) {
            keywords = record.keywords;
            people = record.people;
        });
        if (!listed)
            return false;
        // The saved file's columns must come from a fresh parse, not from the cached one.
        path_cache_forget(path);

        unique_absolute_id_list folder;
        com_ptr<IShellFolderView> view;
        {
            critical_section_lock hold(lock_);
            folder = folder_.clone();
            view = com_ptr<IShellFolderView>(folder_view_);
        }
        unique_child_id item = create_result_item(path, keywords, people);
        if (!item || !folder)
            return false;
        if (view)
        {
            UINT index = 0;
            view->UpdateObject(item.get(), item.get(), &index);
        }
        unique_absolute_id_list announced(ILCombine(folder.get(), item.get()));
        if (announced)
            SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_IDLIST | SHCNF_FLUSHNOWAIT, announced.get(), nullptr);
        return true;
    }
    catch (...)
    {
        // Out of memory while copying a record: the row simply stays as it was.
        return false;
    }
}
