#pragma once
// The context menu of file results, quick pins and quick pin groups: the real file system's menu for
// the file (or the whole selection) with the extension's commands added. "Open File Location" opens the
// file's folder with the file selected; quick pins get "Rename pin" and "Unpin", groups "Rename group".
// "Delete" is taken over: the menu asks in its own dialog and moves the files to the Recycle Bin. After
// a command of the real menu it refreshes the view when a listed file has gone.
//
// A quick pin stands for its shortcut, not for the file the shortcut points to, although the real menu
// is the target's: whatever the user does to a pin must never reach the target. So for one pin or a
// selection of pins "delete" (by name or by the real command) unpins, exactly as "Unpin" does; "rename"
// (by name or by the real command) renames the pin in the view; and the real "Cut", whose paste would
// move the target away, is taken out of the menu and refused by name.
//
// The extension's commands use offsets 0 to 99 from the first command id; the real menu's commands
// follow from offset 100 (delegate_offset) on.

#include "base/com_object.h"
#include "base/raii.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>
#include <string_view>
#include <vector>

class search_result_context_menu
    : public com_object<search_result_context_menu, IContextMenu3, IObjectWithSite>
{
public:
    static constexpr UINT delegate_offset = 100;
    static constexpr UINT no_command = 0xFFFFFFFF;
    static constexpr UINT open_file_location_command = 0;
    static constexpr UINT rename_pin_command = 1;
    static constexpr UINT unpin_command = 2;
    // The custom button of the delete dialog.
    static constexpr int move_to_recycle_bin_button = 6;

    // One item: `real` is the file system's menu for it, `item` its absolute ID list (copied), `working`
    // a second list of it that the menu keeps (the working folder of delegated commands comes from it),
    // `folder` the list of the folder whose view shows it (copied; may be null), `path` its file.
    // E_INVALIDARG without a real menu or item, E_OUTOFMEMORY when a copy fails.
    HRESULT initialize_single(IContextMenu* real, PCIDLIST_ABSOLUTE item, unique_absolute_id_list working,
                              PCIDLIST_ABSOLUTE folder, std::wstring_view path) noexcept;
    // A selection of several files: `real` is the menu of the whole selection.
    HRESULT initialize_multi(IContextMenu* real, std::vector<std::wstring> paths, PCIDLIST_ABSOLUTE folder) noexcept;
    // A quick pin (its shortcut file and group folder, not a group) or a quick pins group (its folder and
    // the folder that holds it, a group).
    HRESULT set_pin_data(std::wstring_view pin_path, std::wstring_view location, bool is_group) noexcept;

    // One quick pin of a multi-selection: its shortcut file and its group folder.
    struct selected_pin
    {
        std::wstring link_path;
        std::wstring group_folder;
    };
    // The quick pins among the items of a multi-selection; with any, "delete" unpins them.
    HRESULT set_selected_pins(std::vector<selected_pin> pins) noexcept;

    // IContextMenu
    STDMETHODIMP QueryContextMenu(HMENU menu, UINT index, UINT first, UINT last, UINT flags) noexcept override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) noexcept override;
    STDMETHODIMP GetCommandString(UINT_PTR command, UINT type, UINT* reserved, CHAR* buffer,
                                  UINT size) noexcept override;
    // IContextMenu2, IContextMenu3: owner-drawn items of the real menu.
    STDMETHODIMP HandleMenuMsg(UINT message, WPARAM wparam, LPARAM lparam) noexcept override;
    STDMETHODIMP HandleMenuMsg2(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) noexcept override;
    // IObjectWithSite: the view that shows the menu, passed on to the real menu.
    STDMETHODIMP SetSite(IUnknown* site) noexcept override;
    STDMETHODIMP GetSite(REFIID riid, void** out) noexcept override;

protected:
    friend class com_object<search_result_context_menu, IContextMenu3, IObjectWithSite>;
    search_result_context_menu() noexcept = default;
    ~search_result_context_menu() override;
    HRESULT initialize() noexcept;

private:
    struct command_offsets
    {
        UINT open = no_command;
        UINT remove = no_command;
        UINT rename = no_command;
        UINT cut = no_command;
    };

    HRESULT hold_real_menu(IContextMenu* real) noexcept;
    HBITMAP folder_bitmap();
    command_offsets offsets() const;
    HRESULT invoke_offset(CMINVOKECOMMANDINFO* info, UINT offset);
    HRESULT invoke_delegated(CMINVOKECOMMANDINFO* info, UINT offset);
    HRESULT invoke_open(const CMINVOKECOMMANDINFO* info);
    bool acts_on_pins() const noexcept;
    HRESULT remove(HWND owner);
    HRESULT delete_to_recycle_bin(HWND owner);
    HRESULT rename_in_view();
    HRESULT refuse_cut();
    HRESULT unpin();
    HRESULT unpin_selection();
    void refresh_after_delegation() noexcept;
    void notify_folder_updated() const noexcept;

    mutable critical_section lock_;
    // Set by the initialisers before the menu reaches the shell; read-only afterwards.
    com_ptr<IContextMenu> real_;
    unique_absolute_id_list item_;
    unique_absolute_id_list working_;
    unique_absolute_id_list folder_;
    std::vector<std::wstring> paths_;
    std::wstring pin_path_;
    std::wstring location_;
    bool is_group_ = false;
    // Set with the pin data: the menu is a quick pin's (not a group's), whatever the pin path holds.
    bool is_pin_ = false;
    bool multi_ = false;
    std::vector<selected_pin> selected_pins_;
    // Guarded by lock_.
    com_ptr<IUnknown> site_;
    command_offsets offsets_;
    HBITMAP folder_bitmap_ = nullptr;
    bool folder_bitmap_made_ = false;
};

// A new menu with one reference, to be initialised. E_OUTOFMEMORY, or the critical section's error.
HRESULT create_search_result_context_menu(search_result_context_menu** out) noexcept;

namespace search_result_context_menu_detail
{
// Starts the thread that checks `paths` 20 times, 200 ms apart, and sends one SHCNE_UPDATEDIR for
// `folder` the first time a file is missing. It keeps its own copies and a module lock. False when the
// thread could not be started.
bool start_vanish_watcher(PCIDLIST_ABSOLUTE folder, const std::vector<std::wstring>& paths) noexcept;
} // namespace search_result_context_menu_detail
