#pragma once
// The columns the folder treats specially, shared by its details, its sort order and its view. Column
// numbers are the desktop folder's; the folder learns the number of each special column the first time
// it is asked about it (GetDefaultColumnState for all of them, CompareIDs for keywords and people), by
// mapping the asked number to its property key. The numbers are process-wide and only ever set to the
// one value the desktop gives, so they are kept without a lock.

#include "items/search_and_action_item_data.h"

#include <windows.h>
#include <shobjidl.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

enum class special_column : std::size_t
{
    size,
    item_type,
    date_modified,
    date_created,
    keywords,
    rating,
    people,
    folder_path,
};
inline constexpr std::size_t special_column_count = 8;

struct special_column_info
{
    PROPERTYKEY key;
    SHCOLSTATEF default_state;
};
const special_column_info& column_info(special_column column) noexcept;

inline constexpr PROPERTYKEY item_name_key = {{0x6B8DA074, 0x3B5C, 0x43BC, {0x88, 0x6F, 0x0A, 0x2C, 0xDC, 0xE0, 0x0B, 0x6F}},
                                              100};

inline bool same_property_key(const PROPERTYKEY& a, const PROPERTYKEY& b) noexcept
{
    return a.pid == b.pid && IsEqualGUID(a.fmtid, b.fmtid);
}

// The learned number of a column, or -1 while it is not known.
int learned_column(special_column column) noexcept;
bool is_learned_column(UINT number, special_column column) noexcept;
// Maps `number` through `desktop` and learns it when its key is one of the special columns (all of them,
// or only keywords and people). The special column it is, or nothing.
bool learn_column(IShellFolder2* desktop, UINT number, bool keywords_and_people_only, special_column* which) noexcept;
// Forgets every learned number, or sets one as if the desktop had it (tests: Wine's desktop has no
// keywords, rating, people or folder path column).
void forget_learned_columns() noexcept;
void set_learned_column(special_column column, int number) noexcept;

// "Organized Folder", "Organized Search", "Quick pin", "Quick pins group", or "Needs Organizing".
const wchar_t* item_type_text(std::uint8_t kind) noexcept;

// A text field of an identifier up to its NUL or the end of its array, without copying.
template <std::size_t N>
std::wstring_view field_view(const wchar_t (&field)[N]) noexcept
{
    return std::wstring_view(field, wcsnlen(field, N));
}

// The mode a folder's view opens in: large icons at 256 for an organised folder configured
// "extra_large_icons" (any case), and for the People folder unless its "default_view" says otherwise;
// details, at the view's own icon size, everywhere else. Reads the namespace configuration.
struct view_mode_choice
{
    FOLDERVIEWMODE mode = FVM_DETAILS;
    int icon_size = -1;
};
view_mode_choice choose_view_mode(bool quick_pins, const std::vector<std::wstring>& names);

// Case-insensitive ordinal comparison (-1, 0, 1) of two texts, each ending at its first NUL or after
// `max` units, whichever comes first: CompareStringOrdinal's order, with plain ASCII compared inline (a
// view sorts tens of thousands of paths with it).
int compare_ordinal_ignoring_case(const wchar_t* a, std::size_t a_max, const wchar_t* b, std::size_t b_max) noexcept;

// The list joined with "; ", as the keywords and people columns show it.
std::wstring join_for_column(const std::vector<std::wstring>& values);
