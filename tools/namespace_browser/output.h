#pragma once
// The browser's two output formats: an indented tree for people, JSON for scripts. Both UTF-8.

#include "shell_walk.h"

#include <string>
#include <vector>

namespace namespace_browser
{
// One line per item, children indented by two spaces, with its attributes and where it is listed
// ("pane" for the navigation pane, "view" for the view, "not listed by its parent" for a start path that
// neither lists, such as an unregistered root or a hidden file); chosen columns as an aligned table of each
// folder's children; errors on lines that begin with "!".
std::string text_output(const std::vector<item>& roots, const options& options);

// {"navigation_pane_flags": "0x1020", "view_flags": "0x60", "roots": [item...]} where an item is
// {"name", "parsing_name", "attributes" ("0x..."), "attribute_names", "in_navigation_pane", "in_view",
//  "columns": {name: text or null}, "column_errors": {name: HRESULT text}, "errors": [...],
//  "children": [item...] (only for folders that were walked)}.
std::string json_output(const std::vector<item>& roots, const options& options);
} // namespace namespace_browser
