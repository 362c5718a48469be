#pragma once
// The shortcut files that are the pins: reading their targets and writing new ones through the shell's
// own link object, so that they are exactly what Explorer makes and reads. COM must be initialised on
// the calling thread.

#include <string>

// The target as a group lists it: the raw path with its environment variables expanded (the raw text
// when the expansion fails or exceeds MAX_PATH), or, when the link has no path, the path of its item ID
// list. Empty when the file cannot be loaded as a shortcut or names no file-system target.
std::wstring read_link_target(const std::wstring& link_file);

// The raw path stored in the shortcut (no expansion, no ID list); empty when there is none or the file
// cannot be loaded. This is what a new pin stores, so duplicates are found by it.
std::wstring read_link_raw_path(const std::wstring& link_file);

// Writes a shortcut to `target` into `link_file`, with the target's folder as working folder and
// nothing else set. False when the link object refuses the path or the file cannot be saved.
bool write_shortcut(const std::wstring& link_file, const std::wstring& target);
