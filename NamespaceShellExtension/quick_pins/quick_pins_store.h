#pragma once
// The quick pins store. Pins are ordinary files: a group is a folder, a pin is a shortcut (".lnk") in
// it, and anything else the user puts into the folder is shown too. Which groups exist comes from
// Menuwright's published model; without one there is a single group "Pins" under Menuwright's data
// folder. Nothing is cached: every listing reads the model and the folders afresh, so changes made by
// other programs show at the next enumeration.
//
// Pinning and unpinning are serialised across the session's processes by a named mutex; listings and
// renames take no lock. Functions throw standard exceptions only (std::bad_alloc, and std::system_error
// when the volume guard cannot start a probe thread); the COM methods that call them turn those into
// their failure codes. The lock is released on every path out.

#include "search/volume_guard.h"

#include <windows.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct quick_pin_group
{
    // 1 to 64 characters, as the model reader checked them.
    std::wstring name;
    // Full path of the group's folder.
    std::wstring folder;

    friend bool operator==(const quick_pin_group&, const quick_pin_group&) = default;
};

// One entry of a listing: a group at the root, or a pin, plain file or sub-folder inside a group.
struct quick_pin_entry
{
    std::wstring display_name;
    // A pin's shortcut target; a folder's or plain file's own path.
    std::wstring target_path;
    // The entry's own file or folder in the group folder; for a group at the root, the group folder.
    std::wstring link_path;
    // A folder entry: a group at the root or a sub-folder of a group.
    bool is_group = false;
    // The target is a folder (always for folder entries).
    bool target_is_folder = false;

    friend bool operator==(const quick_pin_entry&, const quick_pin_entry&) = default;
};

namespace quick_pins_limits
{
inline constexpr std::size_t max_listed_entries = 200;
inline constexpr std::size_t max_paths_per_operation = 200;
inline constexpr int max_pin_number = 999;
inline constexpr DWORD lock_wait_ms = 10'000;
} // namespace quick_pins_limits

// Menuwright's data folder, then "Quick pins", then the group name made fit for a file name.
std::filesystem::path default_group_folder(std::wstring_view group_name);

// The groups of the published model in model order (folders with their variables resolved, a folder
// named twice in any case kept once), or the one group "Pins". With several groups, those whose folder
// is missing or lies on a volume that does not answer are left out, but never all of them: then the
// first group stands alone. Never empty.
std::vector<quick_pin_group> get_pin_groups(volume_guard& guard = process_volume_guard());

// What the Quick pins root shows: the only group's entries directly, or one folder entry per group.
std::vector<quick_pin_entry> list_root_entries(volume_guard& guard = process_volume_guard());

// The entries of a group folder: sub-folders, pins whose target exists on a responsive volume, and other
// files, without hidden items and separators, the first 200 found, folders first and then by their
// numbered names in logical order ("2. b" before "10. a"). Empty when the folder cannot be read.
// Initialises COM (STA) on the calling thread for its own duration when the thread has none.
std::vector<quick_pin_entry> list_group_entries(const std::wstring& folder,
                                                volume_guard& guard = process_volume_guard());

// True when the group's listing holds an entry whose target is a folder (the group "has sub-folders").
bool group_has_folder_pins(const std::wstring& folder, volume_guard& guard = process_volume_guard());

// Writes a shortcut into `group_folder` for each path not yet pinned there, naming it after the path's
// last component ("a.txt.lnk", then "a.txt (2).lnk" ... "a.txt (999).lnk"). Creates the folder when
// missing. The number of shortcuts written (0 when everything was pinned already); nothing when the
// input is empty or longer than 200 paths, the folder cannot be made, or a shortcut cannot be written
// (those written before stay). Takes the store lock; COM must be initialised on the calling thread.
std::optional<std::size_t> pin_items(const std::wstring& group_folder, const std::vector<std::wstring>& paths);

// Moves the given shortcut files of `group_folder` to the Recycle Bin (files that are gone already are
// passed over). False, with nothing removed, when one of them lies outside the folder; false when the
// input is empty or longer than 200 paths, or the shell's file operation fails. Takes the store lock.
bool unpin_items(const std::wstring& group_folder, const std::vector<std::wstring>& pin_files);

struct pin_rename_result
{
    // ERROR_SUCCESS, ERROR_INVALID_NAME for a refused name, or MoveFileExW's error.
    DWORD error = ERROR_SUCCESS;
    // The entry's path afterwards: the new path, or the old one when only letter case would change.
    std::wstring path;
};

// Renames a pin's shortcut or a group's folder to show `new_name`, keeping its order prefix and, for a
// pin, its extension: "3. Old.lnk" renamed to "New" becomes "3. New.lnk". Refuses a name containing any
// of /:*?<>|\ or made of blanks and dots only. Never replaces an existing entry. Takes no lock.
pin_rename_result rename_pin_file(const std::wstring& old_path, bool is_group, std::wstring_view new_name);

// The store's cross-process lock: the session-local mutex "Velmora.Menuwright.QuickPins", waited for
// 10 s at most. After a time-out or an abandoned mutex the holder goes on all the same: a stuck process
// must not stop pinning for good.
class quick_pins_lock
{
public:
    quick_pins_lock() noexcept;
    ~quick_pins_lock();
    quick_pins_lock(const quick_pins_lock&) = delete;
    quick_pins_lock& operator=(const quick_pins_lock&) = delete;

private:
    HANDLE mutex_ = nullptr;
};
