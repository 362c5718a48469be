#pragma once
// The context menu of the extension's own virtual folders (organised folders and organised searches):
// "Open" opens the folder in Explorer, "Create s&hortcut" puts a shortcut to it on the desktop and
// "Customize Sortwell" opens the suite's Settings app at its tags tab.
//
// The shortcut points at the virtual folder by its absolute ID list, not at a file-system path: opening
// it binds through this DLL to the same folder again.

#include "commands/file_names.h"

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <string_view>

// A search_folder_file_context_menu for `item` (one of our identifiers, cloned) in `folder`, the folder
// object that shows it, whose GetCurFolder gives the folder's ID list (held for the menu's lifetime; may
// be null, and then only "Customize Sortwell" works), queried for `riid`. E_INVALIDARG for a null or
// foreign item, E_OUTOFMEMORY when the menu cannot be made.
HRESULT create_search_folder_file_context_menu(IPersistFolder2* folder, PCUITEMID_CHILD item,
                                               REFIID riid, void** out) noexcept;

// Saves a shortcut to `id_list` on the user's desktop, named after `display_name` (cleaned for the file
// system, numbered " (2)" to " (99)" when the name is taken) and showing the icon at `icon_path` when
// something exists there. Never overwrites a file: when the plain name and all 98 numbered names are
// taken it saves nothing and answers HRESULT_FROM_WIN32(ERROR_FILE_EXISTS).
HRESULT create_desktop_shortcut_to_pidl(PCIDLIST_ABSOLUTE id_list, std::wstring_view display_name,
                                        std::wstring_view icon_path) noexcept;
