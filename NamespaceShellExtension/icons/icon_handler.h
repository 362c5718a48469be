#pragma once
// The icon extractor of the extension's own folder items: organised folders and searches show the icon
// file their configuration names, quick pins groups the icon of their folder on disk. The handler only
// says where the icon lives; the shell extracts and caches it. File results and pins never get here:
// their icons come from the real file-system folder.

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <string_view>

// The mingw headers declare IExtractIconW without its __uuidof information.
__CRT_UUID_DECL(IExtractIconW, 0x000214fa, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)

// An icon_handler for a clone of `item` (one of our identifiers), queried for `riid`. E_INVALIDARG for a
// null or foreign item, E_OUTOFMEMORY when it cannot be made.
HRESULT create_icon_handler(PCUITEMID_CHILD item, REFIID riid, void** out) noexcept;

// A configured icon text as a path: kept when absolute (a drive letter, a colon and a separator, or two
// leading separators), otherwise taken relative to the folder that holds this DLL.
std::wstring resolve_icon_path(std::wstring_view icon);
