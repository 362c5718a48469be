#pragma once
// The real folders that hold the files of results and pins, shared by every folder object of the
// process. Binding a file-system folder from the desktop walks every level of its path (about 0.25 ms
// under Wine: ten times the real folder's own GetUIObjectOf, a thousand times a column's answer), and
// the items of a view mostly share a few parents.
//
// Explorer calls from the threads of several windows, each a single-threaded apartment of its own, and
// a folder may belong to the apartment that bound it (archives, devices, other extensions' folders).
// The cache therefore keeps only folders of the file system's own class (CLSID_ShellFSFolder), which
// any thread may use; every other parent is bound afresh for each call.
//
// Two tables under one lock: parent folders by their ID list (at most 32, emptied whole when full),
// and for the columns that a view asks row after row, the parent and last item of the 64 identifiers
// asked about last (slots chosen by the identifier's address, each checked against its path and stamp).
// Nothing is released while the lock is held.

#include "base/raii.h"
#include "items/search_and_action_item_data.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <memory>
#include <string>

// The real parent of an identifier's file: the folder as IShellFolder2 and a copy of the file's item.
struct real_parent_of_item
{
    // The identifier's path and change stamp when the parent was found.
    std::wstring path;
    std::uint64_t stamp = 0;
    com_ptr<IShellFolder2> folder;
    unique_child_id last;
};

inline constexpr std::size_t real_parent_folder_capacity = 32;

// The real parent folder of `list` (an absolute list of a real file) and the list's last item, which
// points into `list`. A miss binds with SHBindToParent, whose failure is returned unchanged (E_FAIL when
// it gives no folder); the folder is kept when it is the file system's own.
HRESULT bind_real_parent(PCIDLIST_ABSOLUTE list, com_ptr<IShellFolder>& parent, PCUITEMID_CHILD& last);

// The real parent of a result's or a pin's file. A file whose stamp changed since its parent was kept
// is parsed afresh (the real folder answers size and dates from the item's own data), otherwise through
// the path cache. Failures are logged at WARNING after the method's name ("filesystem pidl parse
// failed", "SHBindToParent failed", "QueryInterface failed" with the HRESULT) and returned.
HRESULT bind_real_parent_of_item(const char* method, const search_and_action_item_data* item,
                                 std::shared_ptr<const real_parent_of_item>& parent);

// True when `folder` says it is the file system's own folder class (IPersist::GetClassID).
bool is_file_system_folder(IShellFolder* folder) noexcept;

// Releases every folder the cache holds: when nothing of the DLL is alive (DllCanUnloadNow), and tests.
void clear_real_parents() noexcept;
// How many parent folders are kept (tests).
std::size_t real_parent_folder_count() noexcept;
