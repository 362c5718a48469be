#pragma once
// The drop target of a quick pins group: files and folders dragged from anywhere onto a group (in the
// navigation pane, in a folder view, or into the group's open view) become shortcuts in the group's
// folder. It always offers to link, so Explorer shows the link cursor and never moves or copies the
// dragged files, whatever modifier keys are held.

#include <windows.h>
#include <shlobj.h>

#include <string>

// A drop target that pins into `group_path` (may be empty: every drop then fails) and, after writing
// pins, tells the shell that `group_id_list` changed (may be null: no notification). The list is
// cloned. Queried for riid.
HRESULT create_quick_pins_drop_target(const std::wstring& group_path, PCIDLIST_ABSOLUTE group_id_list, REFIID riid,
                                      void** out) noexcept;
