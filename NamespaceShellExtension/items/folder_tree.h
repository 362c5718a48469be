#pragma once
// The tree below the two roots as the folder object walks it: what a place in the tree lists, and which
// items a display name leads to. A place is given by the display names from the root down (`names`)
// and, under the Quick pins root, the disk folder of the deepest group on the way (`group_path`).
//
// Under "Sortwell" the tree comes from the namespace, tags and people configuration, read afresh for
// every operation: root -> organised folders -> saved searches (and target entries). Under "Quick pins"
// it comes from the quick pins store: the root listing, then each group's folder.

#include "base/raii.h"
#include "quick_pins/pin_names.h"
#include "settings/all_people_settings.h"
#include "settings/all_tags_settings.h"
#include "settings/namespace_settings.h"

#include <windows.h>
#include <shobjidl.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The three configuration files of the main tree, loaded in the order the namespace needs them.
struct namespace_configuration
{
    namespace_configuration();
    namespace_settings::settings_file namespace_file;
    all_tags_settings::settings_file tags;
    all_people_settings::settings_file people;
};

// Loads namespace, tags and people in that order. A file that cannot be loaded is logged ("Failed to
// load namespace config <path>", likewise "tags" and "people") and gives null.
std::unique_ptr<namespace_configuration> load_namespace_configuration();

// The first folder record of that name, compared exactly or ignoring case; null when there is none.
const namespace_settings::folder_record* find_folder_record(const namespace_configuration& configuration,
                                                            std::wstring_view name, bool ignore_case);

// What the main tree lists at a place of one name or none (a saved search is listed by its search):
// folder and search items in file order, without the excluded ones. E_FAIL when the place no longer
// exists (a folder renamed, removed or switched off since the ID list was made) or lies deeper.
HRESULT list_main_tree(const namespace_configuration& configuration, const std::vector<std::wstring>& names,
                       std::vector<unique_child_id>& items);

// The saved search a two-name place stands for: the folder's exact name, not switched off; the first
// enabled search without target whose resolved name equals the second name exactly. Null when none.
const namespace_settings::query_record* find_saved_search(const namespace_configuration& configuration,
                                                          const std::vector<std::wstring>& names);

// The Quick pins listing of a place: the root listing when `group_path` is empty, else that group's
// folder. Every group and every pin of a folder is listed; other pins only with SHCONTF_NONFOLDERS. Each
// item's order is its position in the listing.
std::vector<unique_child_id> list_quick_pins(const std::wstring& group_path, SHCONTF flags);

// The items that a list of names from the root leads to, one per name, or nothing when a name is not
// found. Main tree: one or two names (folder, search), compared ignoring case. Quick pins: at most 9
// names, every one but the last a group.
std::vector<unique_child_id> resolve_main_tree_names(const namespace_configuration& configuration,
                                                     const std::vector<std::wstring>& names);
std::vector<unique_child_id> resolve_quick_pins_names(const std::vector<std::wstring>& names);

inline constexpr std::size_t max_quick_pins_parse_depth = 9;

// One relative ID list made of the given one-item identifiers, in order. Throws std::bad_alloc.
unique_relative_id_list join_items(const std::vector<unique_child_id>& items, std::size_t first);
