#pragma once
// What the shell sees of a command: the change notifications sent for a folder (through a real
// SHChangeNotifyRegister on a message-only window, as a view registers), and the items of the Recycle
// Bin, as a user would look for a deleted file.

#include "base/raii.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace test_support
{
class change_recorder
{
public:
    // Records SHCNE_UPDATEDIR and SHCNE_UPDATEITEM for `folder` and everything below it.
    explicit change_recorder(PCIDLIST_ABSOLUTE folder)
    {
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = window_procedure;
        window_class.hInstance = GetModuleHandleW(nullptr);
        window_class.lpszClassName = L"velmora-test-change-recorder";
        RegisterClassW(&window_class);
        window_ = CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  window_class.hInstance, nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        SHChangeNotifyEntry entry{folder, TRUE};
        registration_ = SHChangeNotifyRegister(window_, SHCNRF_ShellLevel | SHCNRF_NewDelivery,
                                               SHCNE_UPDATEDIR | SHCNE_UPDATEITEM, message, 1, &entry);
    }
    ~change_recorder()
    {
        if (registration_)
            SHChangeNotifyDeregister(registration_);
        if (window_)
            DestroyWindow(window_);
    }
    change_recorder(const change_recorder&) = delete;
    change_recorder& operator=(const change_recorder&) = delete;

    bool registered() const { return window_ && registration_; }

    // Delivers what arrives within `time`.
    void pump(std::chrono::milliseconds time)
    {
        const auto end = std::chrono::steady_clock::now() + time;
        for (;;)
        {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left.count()), QS_ALLINPUT);
        }
    }

    // The notifications of `event`; with a `folder`, those whose first ID list is exactly it.
    int count(LONG event, PCIDLIST_ABSOLUTE folder = nullptr) const
    {
        int result = 0;
        for (const auto& [seen, item] : notifications_)
            result += seen == event && (!folder || (item && ILIsEqual(item.get(), folder)));
        return result;
    }
    void clear() { notifications_.clear(); }

private:
    static constexpr UINT message = WM_APP + 17;

    static LRESULT CALLBACK window_procedure(HWND window, UINT msg, WPARAM wparam, LPARAM lparam)
    {
        if (msg != message)
            return DefWindowProcW(window, msg, wparam, lparam);
        auto* self = reinterpret_cast<change_recorder*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        PIDLIST_ABSOLUTE* items = nullptr;
        LONG event = 0;
        if (HANDLE lock = SHChangeNotification_Lock(reinterpret_cast<HANDLE>(wparam), static_cast<DWORD>(lparam),
                                                    &items, &event))
        {
            if (self)
                self->notifications_.emplace_back(event, items && items[0] ? ILCloneFull(items[0]) : nullptr);
            SHChangeNotification_Unlock(lock);
        }
        return 0;
    }

    HWND window_ = nullptr;
    ULONG registration_ = 0;
    std::vector<std::pair<LONG, unique_absolute_id_list>> notifications_; // the event and its first ID list
};

// Closes every dialog this process shows while it lives ("Cancel", then "No"), for a command that must
// ask nothing: a question nobody answers would hold the test for ever. Tells whether one came.
class dialog_closer
{
public:
    dialog_closer()
        : thread_([this] {
              for (; !done_; std::this_thread::sleep_for(std::chrono::milliseconds(25)))
                  EnumWindows(
                      [](HWND window, LPARAM self) {
                          DWORD process = 0;
                          wchar_t name[16] = {};
                          GetWindowThreadProcessId(window, &process);
                          if (process == GetCurrentProcessId() && GetClassNameW(window, name, 16) &&
                              std::wstring(name) == L"#32770")
                          {
                              auto* closer = reinterpret_cast<dialog_closer*>(self);
                              closer->shown_ = true;
                              PostMessageW(window, WM_COMMAND, closer->attempts_++ % 2 ? IDNO : IDCANCEL, 0);
                          }
                          return TRUE;
                      },
                      reinterpret_cast<LPARAM>(this));
          })
    {
    }
    ~dialog_closer() { stop(); }
    dialog_closer(const dialog_closer&) = delete;
    dialog_closer& operator=(const dialog_closer&) = delete;

    // Stops watching; answers whether a dialog was shown.
    bool stop()
    {
        done_ = true;
        if (thread_.joinable())
            thread_.join();
        return shown_;
    }

private:
    std::atomic<bool> done_{false};
    std::atomic<bool> shown_{false};
    int attempts_ = 0;
    std::thread thread_;
};

// Calls `visit(folder, child)` for each item of the shell's Recycle Bin that has the name and original
// folder of `original`, until it answers false. False when the shell has no Recycle Bin folder.
template <class Visit>
bool for_each_recycled(const std::filesystem::path& original, Visit&& visit)
{
    unique_absolute_id_list bin;
    com_ptr<IShellFolder> desktop;
    com_ptr<IShellFolder2> folder;
    com_ptr<IEnumIDList> items;
    if (FAILED(SHGetKnownFolderIDList(FOLDERID_RecycleBinFolder, 0, nullptr, bin.put())) ||
        FAILED(SHGetDesktopFolder(desktop.put())) ||
        FAILED(desktop->BindToObject(bin.get(), nullptr, IID_IShellFolder2, folder.put_void())) ||
        folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN, items.put()) != S_OK)
        return false;
    const auto text = [](STRRET& value, PCUITEMID_CHILD child) {
        unique_cotaskmem_string text;
        return SUCCEEDED(StrRetToStrW(&value, child, text.put())) && text ? std::wstring(text.get()) : std::wstring();
    };
    for (unique_child_id child; items->Next(1, child.put(), nullptr) == S_OK;)
    {
        STRRET name{};
        SHELLDETAILS location{}; // column 1 of the Recycle Bin: the original location
        if (SUCCEEDED(folder->GetDisplayNameOf(child.get(), SHGDN_INFOLDER, &name)) &&
            SUCCEEDED(folder->GetDetailsOf(child.get(), 1, &location)) &&
            text(name, child.get()) == original.filename().wstring() &&
            text(location.str, child.get()) == original.parent_path().wstring() && !visit(folder.get(), child.get()))
            break;
    }
    return true;
}

// The items of the shell's Recycle Bin with the name and original folder of `original`; -1 when the
// shell has no Recycle Bin folder.
inline int recycled_items_from(const std::filesystem::path& original)
{
    int count = 0;
    const bool found_bin = for_each_recycled(original, [&](IShellFolder2*, PCUITEMID_CHILD) {
        ++count;
        return true;
    });
    return found_bin ? count : -1;
}

// Restores the first Recycle Bin item with the name and original folder of `original` through the bin's
// own context menu (its first item is "Restore"), as a user would. False when none was found.
inline bool restore_recycled(const std::filesystem::path& original)
{
    bool restored = false;
    for_each_recycled(original, [&](IShellFolder2* folder, PCUITEMID_CHILD child) {
        PCUITEMID_CHILD selection[] = {child};
        com_ptr<IContextMenu> menu;
        if (FAILED(folder->GetUIObjectOf(nullptr, 1, selection, IID_IContextMenu, nullptr, menu.put_void())))
            return false;
        HMENU popup = CreatePopupMenu();
        menu->QueryContextMenu(popup, 0, 1, 0x7FFF, CMF_NORMAL);
        const UINT restore = GetMenuItemID(popup, 0) - 1;
        DestroyMenu(popup);
        CMINVOKECOMMANDINFO invoke{};
        invoke.cbSize = sizeof(invoke);
        invoke.lpVerb = MAKEINTRESOURCEA(restore);
        restored = SUCCEEDED(menu->InvokeCommand(&invoke)) && std::filesystem::exists(original);
        return false;
    });
    return restored;
}
} // namespace test_support
