#pragma once
// The names of the files that the commands write: a batch job's file in the temporary folder and a
// desktop shortcut to a virtual folder. Text work only, no system call: the fuzzers build this part
// natively and feed it arbitrary names.

#include <windows.h>

#include <string>
#include <string_view>

// `guid` as 36 upper-case hexadecimal digits with hyphens and no braces (the registry form without its
// braces).
std::string guid_text(const GUID& guid);

// A job's file name: "velmora_", its identifier text and ".json.tmp".
std::wstring job_file_name(std::string_view identifier);

namespace shortcut_detail
{
// The file name (without ".lnk") that a display name gives: control characters and \ / : * ? " < > |
// become "-", a name beyond 246 units is cut (so that "<name> (99).lnk" fits in 255), trailing full
// stops and blanks go, an empty result is "Sortwell item", and a "-" follows a reserved device name
// at its start ("CON" gives "CON-", "nul.txt" gives "nul-.txt"; COM1 to COM9, LPT1 to LPT9 and their
// superscript forms are devices too).
std::wstring clean_file_name(std::wstring_view display_name);

// The path that the shortcut named `name` (as clean_file_name gives it) takes in `folder` at attempt
// `number`: "<name>.lnk" for 1, "<name> (<number>).lnk" for 2 and above.
std::wstring shortcut_file_path(const std::wstring& folder, std::wstring_view name, int number);
} // namespace shortcut_detail
