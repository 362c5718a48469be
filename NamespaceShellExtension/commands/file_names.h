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
// become "-", trailing full stops and blanks go, a reserved device name (CON, NUL, COM1...) gets a "-"
// appended, and an empty result is "Sortwell item".
std::wstring clean_file_name(std::wstring_view display_name);

// The path that the shortcut named `name` (as clean_file_name gives it) takes in `folder` at attempt
// `number`: "<name>.lnk" for 1, "<name> (<number>).lnk" for 2 and above.
std::wstring shortcut_file_path(const std::wstring& folder, std::wstring_view name, int number);
} // namespace shortcut_detail
