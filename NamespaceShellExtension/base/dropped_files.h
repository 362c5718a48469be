#pragma once
// The file list of a drag and drop: the CF_HDROP that Explorer's data objects carry for files and
// folders dragged from anywhere. Shared by the two drop targets of the extension.

#include <windows.h>
#include <objidl.h>

#include <string>
#include <vector>

struct dropped_files
{
    enum class outcome
    {
        // The data object offers no CF_HDROP in global memory (text or an image from a browser).
        no_file_list,
        // It offers one, but the memory cannot be locked.
        unreadable,
        read,
    };
    outcome result = outcome::no_file_list;
    // In the order of the drop, each as DragQueryFileW gives it into 520 characters. Empty names are
    // left out (they name no file), and so are names that do not fit (a cut name would name another
    // file), with a warning in the log.
    std::vector<std::wstring> paths;
};

// Asks `data` (not null) for CF_HDROP (content, index -1, TYMED_HGLOBAL) and reads every name. The
// storage medium is released on every path. Throws std::bad_alloc only.
dropped_files read_dropped_files(IDataObject* data);
