#pragma once
// Where a recycled file went. The shell's Recycle Bin folder is asked first, as a user would look: an
// item of that name whose original location is the file's folder. Under Wine the Recycle Bin is the
// Unix user's XDG trash ($XDG_DATA_HOME/Trash, else ~/.local/share/Trash): each file lies in "files"
// beside a "<name>.trashinfo" in "info" whose Path is the original's Unix name, so the bytes can be
// compared too. CTest points XDG_DATA_HOME into the build folder, so the tests never fill a real trash.

#include <optional>
#include <string>
#include <vector>

namespace recycle_bin
{
// Items of the shell's Recycle Bin folder with the name and original folder of `original_path`.
int shell_items_from(const std::wstring& original_path);

// Under Wine: the content of every trash entry whose original was `original_path`. Nothing when this
// is not Wine (no wine_get_unix_file_name).
std::optional<std::vector<std::string>> wine_trash_contents(const std::wstring& original_path);

// Under Wine: deletes those trash entries, so that reruns start from an empty bin.
void wine_trash_forget(const std::wstring& original_path);
} // namespace recycle_bin
