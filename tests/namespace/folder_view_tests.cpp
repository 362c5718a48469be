// The view mode each kind of folder opens in. The view itself: Wine's default view under the shell's
// browser control (explorer_browser_tests); its callback: shell_folder_view_cb_tests.

#include "folder_test_support.h"

#include "namespace/folder_columns.h"

namespace
{
using namespace folder_test;

using folder_view = folder_fixture;

TEST_F(folder_view, opens_in_large_icons_where_configured_and_for_people_else_in_details)
{
    write_namespace(R"({"folders": [{"name": "Photos", "queries": [{"name": "Beach", "query": "x"}]},
        {"name": "People", "queries": []}, {"name": "Big", "default_view": "EXTRA_large_icons", "queries": []},
        {"name": "Small", "default_view": "details", "queries": []}]})");
    const std::tuple<const char*, bool, std::vector<std::wstring>, FOLDERVIEWMODE, int> rows[] = {
        {"an organised folder without a default view", false, {L"Photos"}, FVM_DETAILS, -1},
        {"a saved search inside it", false, {L"Photos", L"Beach"}, FVM_DETAILS, -1},
        {"the People folder", false, {L"People"}, FVM_ICON, 256},
        {"the People folder in other letters", false, {L"pEOPLE", L"Bo"}, FVM_ICON, 256},
        {"\"extra_large_icons\" in any case", false, {L"big"}, FVM_ICON, 256},
        {"another default view", false, {L"Small"}, FVM_DETAILS, -1},
        {"the root", false, {}, FVM_DETAILS, -1},
        {"a folder the configuration no longer has", false, {L"Gone"}, FVM_DETAILS, -1},
        {"the Quick pins tree, even a group called People", true, {L"People"}, FVM_DETAILS, -1},
    };
    for (const auto& [name, quick_pins, names, mode, icon_size] : rows)
    {
        SCOPED_TRACE(name);
        const auto choice = choose_view_mode(quick_pins, names);
        EXPECT_EQ(choice.mode, mode);
        EXPECT_EQ(choice.icon_size, icon_size);
    }
}
} // namespace
