#pragma once
// The icon extractor of the extension's own folder items: organised folders and searches show the icon
// file their configuration names, quick pins groups the icon of their folder on disk. The handler only
// says where the icon lives; the shell extracts and caches it. File results and pins never get here:
// their icons come from the real file-system folder.
//
// Identifiers come back from shortcuts, Explorer's history and other programs, so an icon path is never
// taken on an identifier's word alone when the shell would reach out to a network for it (and offer the
// user's credentials there): the configuration's icon is used when the configuration names the item; a
// share is used only when the configuration (or the quick pins store, for a group's folder) names it and
// the volume guard says the share answers; a path that is neither local nor on a share is never used.
// Such a path gets the generic folder icon and a WARNING naming it. A drive letter mapped to a share,
// and a local link that leads to one, look local: they are beyond what a path can tell.

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <string_view>

struct search_and_action_item_data;
class volume_guard;

// The mingw headers declare IExtractIconW without its __uuidof information.
__CRT_UUID_DECL(IExtractIconW, 0x000214fa, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)

// An icon_handler for a clone of `item` (one of our identifiers), queried for `riid`. E_INVALIDARG for a
// null or foreign item, E_OUTOFMEMORY when it cannot be made.
HRESULT create_icon_handler(PCUITEMID_CHILD item, REFIID riid, void** out) noexcept;

// A configured icon text as a path: kept when absolute (a drive letter, a colon and a separator, or two
// leading separators), otherwise taken relative to the folder that holds this DLL.
std::wstring resolve_icon_path(std::wstring_view icon);

// Where a path leads, as far as its text tells, with either separator:
// - local: a drive path ("C:\..."), also in its long, device and object-manager forms ("\\?\C:\...",
//   "\\.\C:\...", "\??\C:\...");
// - share: "\\server\share\..." and its "\\?\UNC\", "\\.\UNC\" and "\??\UNC\" forms, with a server and
//   a share name; `share_path` is then the path in the plain form the volume guard keys on;
// - elsewhere: anything else (other devices and object paths, a bare server, relative paths).
enum class icon_path_place
{
    elsewhere,
    local,
    share,
};
struct icon_path_classification
{
    icon_path_place place = icon_path_place::elsewhere;
    std::wstring share_path;
};
icon_path_classification icon_path_place_of(std::wstring_view path);

// What GetIconLocation answers for an item: the icon file, its index and the GIL_ flags.
struct icon_location
{
    std::wstring file;
    int index = 0;
    UINT flags = GIL_PERINSTANCE;
};
// The location for one of our identifiers; `guard` is asked before a share is used. Kinds other than
// organised folders, saved searches and groups get the empty location.
icon_location folder_item_icon_location(const search_and_action_item_data* item, volume_guard& guard);
