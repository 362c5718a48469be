#pragma once
// The callback that every folder of the extension gives to the shell's default folder view. It picks the
// view mode and the default columns, shows "Searching..." while a saved search runs and "No matching
// files were found." when it found nothing, lets the view enumerate in the background, and keeps result
// rows fresh: when a file that a cached search lists is saved anywhere on the system, its row in the
// open view is updated.
//
// For the live rows the callback registers its view window, once per view, for the desktop-wide
// SHCNE_UPDATEITEM event with the registered message "Velmora.NSE.ItemNotify", and subclasses the window
// to receive it. Registration and subclass end with the window (WM_DESTROY), or with the callback when
// the window never got that far.

#include "base/com_object.h"
#include "base/raii.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <atomic>
#include <cstddef>

// The mingw headers declare these two interfaces without a usable __uuidof.
#ifndef VELMORA_SHELL_FOLDER_VIEW_UUIDS
#define VELMORA_SHELL_FOLDER_VIEW_UUIDS
__CRT_UUID_DECL(IShellFolderViewCB, 0x2047e320, 0xf2a9, 0x11ce, 0xae, 0x65, 0x08, 0x00, 0x2b, 0x2e, 0x12, 0x62)
__CRT_UUID_DECL(IShellFolderView, 0x37a378c0, 0xf82d, 0x11ce, 0xae, 0x65, 0x08, 0x00, 0x2b, 0x2e, 0x12, 0x62)
#endif

// The eight default columns of every view, in their order: name, size, date modified, keywords, rating,
// people, folder path, item type.
inline constexpr std::size_t default_column_count = 8;
extern const PROPERTYKEY default_view_columns[default_column_count];

// The registered window message that carries the update notifications, registered once per process.
UINT item_notify_message() noexcept;

class shell_folder_view_cb : public com_object<shell_folder_view_cb, IShellFolderViewCB>
{
public:
    // The view's icon size when the view's own default is wanted.
    static constexpr int default_icon_size = -1;

    // A callback for the view of the folder at `folder` (copied), with one reference.
    static HRESULT create_callback(PCIDLIST_ABSOLUTE folder, FOLDERVIEWMODE view_mode, int icon_size,
                                   shell_folder_view_cb** out) noexcept;

    STDMETHODIMP MessageSFVCB(UINT message, WPARAM wparam, LPARAM lparam) noexcept override;

    // Hands over the view made with this callback, which owns the callback and is therefore held without
    // a reference, and applies the default columns and view mode when the view has asked for them.
    void set_folder_view(IShellFolderView* view) noexcept;
    void apply_defaults() noexcept;

    // What the subclassed view window does with the registered message: the notification's item, unless
    // it is one of the extension's own, gives a file path (updated_file_path); when a finished search
    // lists that file, its row gets a fresh identifier and the update is announced (update_listed_row).
    // Public for tests and benchmarks.
    LRESULT on_item_notify(WPARAM wparam, LPARAM lparam) noexcept;
    bool updated_file_path(PCIDLIST_ABSOLUTE item, wchar_t (&path)[520]) noexcept;
    bool update_listed_row(const wchar_t* path) noexcept;

    // Open notification registrations of all callbacks of the process (tests).
    static long live_registrations() noexcept { return live_registrations_.load(); }

protected:
    friend class com_object<shell_folder_view_cb, IShellFolderViewCB>;
    shell_folder_view_cb() noexcept = default;
    ~shell_folder_view_cb() override;
    HRESULT initialize(PCIDLIST_ABSOLUTE folder, FOLDERVIEWMODE view_mode, int icon_size) noexcept;

private:
    static LRESULT CALLBACK subclass_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                               UINT_PTR id, DWORD_PTR data) noexcept;
    void window_created(HWND window) noexcept;
    void window_destroyed() noexcept;
    void set_empty_text(const wchar_t* text) noexcept;
    void end_registration() noexcept;

    critical_section lock_;
    unique_absolute_id_list folder_;
    // The list handed out for SFVM_GETNOTIFY, which the view does not free.
    unique_absolute_id_list notify_list_;
    ULONG registration_ = 0;
    HWND window_ = nullptr;
    bool subclassed_ = false;
    IShellFolderView* folder_view_ = nullptr;
    FOLDERVIEWMODE view_mode_ = FVM_DETAILS;
    int icon_size_ = default_icon_size;
    bool defaults_pending_ = false;
    bool applying_ = false;

    static std::atomic<long> live_registrations_;
};
