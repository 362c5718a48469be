#pragma once
// The drop target of an organised search that acts as an action target: files dropped onto it are
// rated (a search whose name starts with a black star; as many stars, as high the rating) or tagged
// with the search's action parameters. The drop only hands the paths to the suite's batch worker as a
// job file; Explorer's process never changes the dropped files. Organised folders get the same object
// and refuse every drop, so that the shell shows the no-drop cursor over them.

#include <windows.h>
#include <shlobj.h>

// A drop target for the organised folder or search `item` (a child identifier of ours; cloned), queried
// for riid. A null or foreign item gives a target that refuses every drop.
HRESULT create_search_folder_file_drop_target(PCUITEMID_CHILD item, REFIID riid, void** out) noexcept;
