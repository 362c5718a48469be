#pragma once
// The real context menu of a multi-selection of results or pins: the handler of a shell item array of
// their files (BHID_SFUIObject). Wine 8's shell item arrays answer E_NOTIMPL for it; tests under Wine
// put a maker of their own in its place to reach the rest of the selection's path.

#include <windows.h>
#include <shobjidl.h>

namespace selection_menu_detail
{
using real_menu_maker = HRESULT (*)(IShellItemArray* items, IContextMenu** out);
// The menu from the maker in use; the shell item array's own handler unless replaced.
HRESULT real_menu_of(IShellItemArray* items, IContextMenu** out);
// Replaces the maker; answers the one in use before.
real_menu_maker replace_real_menu_maker(real_menu_maker maker) noexcept;
} // namespace selection_menu_detail
