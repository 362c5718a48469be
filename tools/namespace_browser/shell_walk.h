#pragma once
// Walks a part of the shell namespace the way Explorer does, through shell32 only: parse a display
// name, bind, enumerate with the navigation pane's flags and then with the view's flags, and ask each
// item's folder for its names, attributes and chosen columns.

#include <windows.h>
#include <shtypes.h>

#include <optional>
#include <string>
#include <vector>

namespace namespace_browser
{
// The navigation pane's tree lists folders only; the view lists folders and other items.
constexpr DWORD navigation_pane_flags = 0x20 | 0x1000; // SHCONTF_FOLDERS | SHCONTF_NAVIGATION_ENUM
constexpr DWORD view_flags = 0x20 | 0x40;              // SHCONTF_FOLDERS | SHCONTF_NONFOLDERS

// The attributes asked of every item (the bits Explorer's views and tree look at).
constexpr ULONG asked_attributes = 0x00000001 | 0x00000002 | 0x00000004 | 0x00000010 | 0x00000020 | 0x00000040 |
                                   0x00000100 | 0x00010000 | 0x00040000 | 0x00080000 | 0x00400000 | 0x00800000 |
                                   0x08000000 | 0x10000000 | 0x20000000 | 0x40000000 | 0x80000000;

struct column
{
    std::wstring name; // as given on the command line: "size", "date_modified", ...
    PROPERTYKEY key;
};
// The columns the browser knows by name, in the order the demo prints them.
const std::vector<column>& known_columns();
// The column named `name`, if known.
std::optional<column> find_column(const std::wstring& name);

struct column_value
{
    std::wstring name;
    std::optional<std::wstring> text; // empty when neither GetDetailsEx nor GetDetailsOf answered
    HRESULT result = S_OK;            // GetDetailsEx's answer when no text came
};

struct item
{
    std::wstring name;         // SHGDN_NORMAL
    std::wstring parsing_name; // SHGDN_FORPARSING
    ULONG attributes = 0;
    HRESULT attributes_result = S_OK;
    bool in_navigation_pane = false; // listed by the navigation pane's enumeration
    bool in_view = false;            // listed by the view's enumeration
    std::vector<column_value> columns;
    // Filled when this item is a folder that was walked.
    bool walked = false;
    std::vector<item> children;
    std::vector<std::wstring> errors; // what failed while walking this folder
};

struct options
{
    int depth = 2; // levels of children listed below each start path
    std::vector<column> columns;
};

// Parses `path` (a display name such as "::{clsid}", "::{clsid}\\Ratings" or "C:\\Windows"), names the
// item and walks it as a folder. Failures end up in the item's errors.
item walk_path(const std::wstring& path, const options& options);

// "0x80004001" and, for common codes, their names ("E_NOTIMPL").
std::wstring hresult_text(HRESULT result);
// The names of the set attribute bits, separated by "|" ("FOLDER|HASSUBFOLDER").
std::wstring attribute_names(ULONG attributes);
// True when the item or a folder below it carries an error.
bool has_errors(const item& item);
} // namespace namespace_browser
