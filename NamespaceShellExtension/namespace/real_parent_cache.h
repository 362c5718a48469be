#pragma once
// The real folders that hold the files of a folder's results and pins, bound once per folder object.
// Binding a file-system folder from the desktop walks every level of its path (about 0.26 ms under
// Wine, ten times the real folder's own GetUIObjectOf), and the items of one view mostly share a few
// parents. The cache is small and emptied whole when full; it lives and dies with its folder object.

#include "module/raii.h"

#include <windows.h>
#include <shlobj.h>

#include <cstddef>
#include <mutex>
#include <vector>

class real_parent_cache
{
public:
    static constexpr std::size_t capacity = 32;

    // The real parent folder of `list` (an absolute list of a real file) and the list's last item,
    // which points into `list`. A miss binds with SHBindToParent, whose failure is returned unchanged.
    HRESULT bind(PCIDLIST_ABSOLUTE list, com_ptr<IShellFolder>& parent, PCUITEMID_CHILD& last);

private:
    struct entry
    {
        // The parent's list, without its terminator.
        std::vector<BYTE> key;
        com_ptr<IShellFolder> folder;
    };
    std::mutex mutex_;
    std::vector<entry> entries_;
};
