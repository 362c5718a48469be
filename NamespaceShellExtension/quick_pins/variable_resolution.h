#pragma once
// Placeholders in texts that come from Menuwright's model, such as a quick pins group's folder:
// "$VLM_Directory" (the folder of this DLL), Windows environment variables written "%NAME%", and the
// selected-item placeholders "$first_selected_path" / "%1" and "$all_selected_paths" / "%*".

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

// Replaces the placeholders of `text` in three passes: custom variables, then environment variables,
// then selected paths (each path in double quotes, inner double quotes doubled; several joined by one
// blank; nothing for an empty list). What a pass inserts is not scanned again by that pass, and the
// selected paths by none. Never fails: an unknown "$name" or "%NAME%" stays in the text, and each
// occurrence logs an ERROR line.
std::wstring resolve_variables(std::wstring_view text, HMODULE module, const std::vector<std::wstring>& selected_paths,
                               const std::vector<std::wstring>& primary_paths);
