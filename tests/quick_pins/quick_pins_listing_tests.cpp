// The groups the store finds in Menuwright's model and what it lists for the root and for a group.

#include "store_fixture.h"

#include <objbase.h>
#include <shlwapi.h>

#include <functional>
#include <thread>

using namespace quick_pins_test;

namespace
{
std::wstring upper_case(std::wstring text)
{
    CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

std::wstring environment_variable(const wchar_t* name)
{
    wchar_t value[MAX_PATH] = {};
    GetEnvironmentVariableW(name, value, MAX_PATH);
    return value;
}

std::wstring executable_folder()
{
    return test_support::executable_folder().wstring();
}

// A folder on drive Z (Wine's view of the Unix root), which the fixture's guard reports unresponsive.
class z_drive_folder
{
public:
    z_drive_folder() : path_(L"Z:\\tmp\\velmora-quick-pins-" + std::to_wstring(GetCurrentProcessId()))
    {
        available_ = GetFileAttributesW(L"Z:\\tmp") != INVALID_FILE_ATTRIBUTES;
        if (available_)
            std::filesystem::create_directories(path_);
    }
    ~z_drive_folder() { remove_tree(path_); }
    bool available() const { return available_; }
    std::wstring path(const std::wstring& name = {}) const { return name.empty() ? path_ : path_ + L"\\" + name; }

private:
    std::wstring path_;
    bool available_ = false;
};

using quick_pins_groups = store_test;

TEST_F(quick_pins_groups, groups_from_the_model)
{
    const std::wstring defaults = default_groups_folder().wstring();
    const std::wstring shared = scratch(L"Shared");
    const struct
    {
        const char* name;
        std::function<void()> prepare;
        std::vector<quick_pin_group> expected;
    } rows[] = {
        {"no model", [] {}, {{L"Pins", defaults + L"\\Pins"}}},
        {"group of blanks, missing folder kept alone", [] { publish_groups({{u"   ", u""}}); },
         {{L"   ", defaults + L"\\Pins"}}},
        {"group of dots", [] { publish_groups({{u"...", u""}}); }, {{L"...", defaults + L"\\Pins"}}},
        {"reserved characters", [] { publish_groups({{u"A/B:C", u""}}); }, {{L"A/B:C", defaults + L"\\A_B_C"}}},
        {"module folder variable", [] { publish_groups({{u"Tools", u"$vlm_directory\\Pins"}}); },
         {{L"Tools", executable_folder() + L"\\Pins"}}},
        {"environment variable", [] { publish_groups({{u"Home", u"%USERPROFILE%\\Pinned"}}); },
         {{L"Home", environment_variable(L"USERPROFILE") + L"\\Pinned"}}},
        {"same folder in another case",
         [&] {
             std::filesystem::create_directories(shared);
             publish_groups({{u"One", u16(shared)}, {u"Two", u16(upper_case(shared))}, {u"Three", u""}});
         },
         // "Three" has no folder on disk: with two groups left, it is dropped.
         {{L"One", shared}}},
        {"several groups, none on disk: the first alone",
         [&] { publish_groups({{u"A", u16(scratch(L"missing-a"))}, {u"B", u16(scratch(L"missing-b"))}}); },
         {{L"A", scratch(L"missing-a")}}},
        {"several groups: those on disk, in model order",
         [&] {
             std::filesystem::create_directories(scratch(L"b"));
             std::filesystem::create_directories(scratch(L"c"));
             publish_groups({{u"A", u16(scratch(L"a"))}, {u"C", u16(scratch(L"c"))}, {u"B", u16(scratch(L"b"))}});
         },
         {{L"C", scratch(L"c")}, {L"B", scratch(L"b")}}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        remove_tree(published_folder());
        row.prepare();
        EXPECT_EQ(get_pin_groups(guard_), row.expected);
    }
}

TEST_F(quick_pins_groups, group_on_an_unresponsive_volume_is_left_out)
{
    const z_drive_folder remote;
    if (!remote.available())
        GTEST_SKIP() << "no Z: drive in this prefix";
    std::filesystem::create_directories(scratch(L"near"));
    publish_groups({{u"Far", u16(remote.path())}, {u"Near", u16(scratch(L"near"))}});

    EXPECT_EQ(get_pin_groups(guard_), (std::vector<quick_pin_group>{{L"Near", scratch(L"near")}}));
    volume_guard everything_answers(volume_guard::system_environment());
    EXPECT_EQ(get_pin_groups(everything_answers).size(), 2u);
}

TEST_F(quick_pins_groups, root_shows_the_only_group_directly)
{
    make_file(scratch(L"target.txt"));
    make_pin((default_groups_folder() / L"Pins" / L"target.txt.lnk").wstring(), scratch(L"target.txt"));

    const auto entries = list_root_entries(guard_);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0], (quick_pin_entry{L"target.txt", scratch(L"target.txt"),
                                           (default_groups_folder() / L"Pins" / L"target.txt.lnk").wstring(), false,
                                           false}));
}

TEST_F(quick_pins_groups, root_shows_one_folder_per_group)
{
    std::filesystem::create_directories(scratch(L"one"));
    std::filesystem::create_directories(scratch(L"two"));
    make_file(scratch(L"one\\inside.txt"));
    publish_groups({{u"One", u16(scratch(L"one"))}, {u"Two", u16(scratch(L"two"))}});

    EXPECT_EQ(list_root_entries(guard_), (std::vector<quick_pin_entry>{
                                             {L"One", scratch(L"one"), scratch(L"one"), true, true},
                                             {L"Two", scratch(L"two"), scratch(L"two"), true, true},
                                         }));
}

using quick_pins_listing = store_test;

TEST_F(quick_pins_listing, entries_of_a_group)
{
    const std::wstring group = scratch(L"group");
    const std::wstring targets = scratch(L"targets");
    for (const wchar_t* name : {L"b.txt", L"a.txt", L"c.txt", L"bond.txt"})
        make_file(targets + L"\\" + name);
    std::filesystem::create_directories(targets + L"\\dir");

    make_pin(group + L"\\1. b.lnk", targets + L"\\b.txt");
    make_pin(group + L"\\10. a.lnk", targets + L"\\a.txt");
    make_pin(group + L"\\2. c.lnk", targets + L"\\c.txt");
    make_pin(group + L"\\007.lnk", targets + L"\\bond.txt");
    make_pin(group + L"\\d.lnk", targets + L"\\dir");
    for (const wchar_t* name : {L"2024", L"2024.05", L"10. Archive"})
        std::filesystem::create_directories(group + L"\\" + name);
    make_file(group + L"\\notes.txt");
    make_file(group + L"\\web.url", "[InternetShortcut]\r\nURL=https://example.invalid/\r\n");

    // Never listed: separators, hidden and system items, broken pins, files that are no shortcut.
    make_pin(group + L"\\Separator.lnk", targets + L"\\a.txt");
    make_file(group + L"\\4. separator.url");
    make_pin(group + L"\\---.lnk", targets + L"\\a.txt");
    std::filesystem::create_directories(group + L"\\--");
    make_file(group + L"\\hidden.txt");
    SetFileAttributesW((group + L"\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
    make_file(group + L"\\system.txt");
    SetFileAttributesW((group + L"\\system.txt").c_str(), FILE_ATTRIBUTE_SYSTEM);
    std::filesystem::create_directories(group + L"\\hidden folder");
    SetFileAttributesW((group + L"\\hidden folder").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY);
    make_file(targets + L"\\deleted.txt");
    make_pin(group + L"\\deleted.lnk", targets + L"\\deleted.txt");
    std::filesystem::remove(targets + L"\\deleted.txt");
    make_file(group + L"\\garbage.lnk", "not a shortcut");
    // A system folder that is not hidden is listed.
    std::filesystem::create_directories(group + L"\\system folder");
    SetFileAttributesW((group + L"\\system folder").c_str(), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY);

    const std::vector<quick_pin_entry> expected = {
        {L"Archive", group + L"\\10. Archive", group + L"\\10. Archive", true, true},
        {L"2024", group + L"\\2024", group + L"\\2024", true, true},
        {L"05", group + L"\\2024.05", group + L"\\2024.05", true, true},
        {L"d", targets + L"\\dir", group + L"\\d.lnk", false, true},
        {L"system folder", group + L"\\system folder", group + L"\\system folder", true, true},
        {L"b", targets + L"\\b.txt", group + L"\\1. b.lnk", false, false},
        {L"c", targets + L"\\c.txt", group + L"\\2. c.lnk", false, false},
        {L"007", targets + L"\\bond.txt", group + L"\\007.lnk", false, false},
        {L"a", targets + L"\\a.txt", group + L"\\10. a.lnk", false, false},
        {L"notes.txt", group + L"\\notes.txt", group + L"\\notes.txt", false, false},
        {L"web", group + L"\\web.url", group + L"\\web.url", false, false},
    };
    EXPECT_EQ(list_group_entries(group, guard_), expected);
    // The same with a trailing backslash on the folder.
    EXPECT_EQ(list_group_entries(group + L"\\", guard_), expected);
    EXPECT_TRUE(group_has_folder_pins(group, guard_));
    // The broken pin's shortcut stays on disk.
    EXPECT_TRUE(std::filesystem::exists(group + L"\\deleted.lnk"));
}

TEST_F(quick_pins_listing, pin_to_an_unresponsive_volume_is_left_out)
{
    const z_drive_folder remote;
    if (!remote.available())
        GTEST_SKIP() << "no Z: drive in this prefix";
    make_file(remote.path(L"far.txt"));
    make_file(scratch(L"near.txt"));
    make_pin(scratch(L"group\\far.lnk"), remote.path(L"far.txt"));
    make_pin(scratch(L"group\\near.lnk"), scratch(L"near.txt"));

    EXPECT_EQ(display_names(list_group_entries(scratch(L"group"), guard_)), std::vector<std::wstring>{L"near"});
    volume_guard everything_answers(volume_guard::system_environment());
    EXPECT_EQ(display_names(list_group_entries(scratch(L"group"), everything_answers)),
              (std::vector<std::wstring>{L"far", L"near"}));
}

TEST_F(quick_pins_listing, shortcut_with_environment_variables_lists_the_expanded_target)
{
    // Wine's link object makes any path absolute, so the variable sits inside a full path here.
    SetEnvironmentVariableW(L"VELMORA_PIN_FOLDER", L"expanded");
    make_file(scratch(L"expanded\\t.txt"));
    make_pin(scratch(L"group\\t.lnk"), scratch(L"%VELMORA_PIN_FOLDER%\\t.txt"));

    const auto entries = list_group_entries(scratch(L"group"), guard_);
    SetEnvironmentVariableW(L"VELMORA_PIN_FOLDER", nullptr);
    EXPECT_EQ(entries, (std::vector<quick_pin_entry>{
                           {L"t", scratch(L"expanded\\t.txt"), scratch(L"group\\t.lnk"), false, false}}));
}

TEST_F(quick_pins_listing, at_most_200_entries_and_skipped_items_do_not_count)
{
    const std::wstring group = scratch(L"group");
    make_file(scratch(L"gone.txt"));
    for (int i = 0; i < 10; ++i)
        make_pin(group + L"\\broken " + std::to_wstring(i) + L".lnk", scratch(L"gone.txt"));
    std::filesystem::remove(scratch(L"gone.txt"));
    for (int i = 0; i < 5; ++i)
        make_file(group + L"\\" + std::to_wstring(i) + L". ---.txt");
    for (int i = 1; i <= 200; ++i)
        make_file(group + L"\\file " + std::to_wstring(i) + L".txt");

    auto entries = list_group_entries(group, guard_);
    ASSERT_EQ(entries.size(), 200u);
    for (int i = 1; i <= 200; ++i)
        EXPECT_EQ(entries[i - 1].display_name, L"file " + std::to_wstring(i) + L".txt");

    for (int i = 201; i <= 230; ++i)
        make_file(group + L"\\file " + std::to_wstring(i) + L".txt");
    entries = list_group_entries(group, guard_);
    EXPECT_EQ(entries.size(), 200u);
    // Whatever was found first, the result is sorted.
    for (std::size_t i = 1; i < entries.size(); ++i)
        EXPECT_LT(StrCmpLogicalW(entries[i - 1].display_name.c_str(), entries[i].display_name.c_str()), 0);
}

TEST_F(quick_pins_listing, folders_that_cannot_be_listed)
{
    make_file(scratch(L"file.txt"));
    std::filesystem::create_directories(scratch(L"empty"));
    for (const std::wstring& folder : {std::wstring(), scratch(L"missing"), scratch(L"file.txt"), scratch(L"empty")})
    {
        SCOPED_TRACE(to_utf8(folder));
        EXPECT_EQ(list_group_entries(folder, guard_), std::vector<quick_pin_entry>{});
        EXPECT_FALSE(group_has_folder_pins(folder, guard_));
    }
}

TEST_F(quick_pins_listing, folder_pins_make_a_group_have_sub_folders)
{
    make_file(scratch(L"a.txt"));
    make_pin(scratch(L"group\\a.lnk"), scratch(L"a.txt"));
    EXPECT_FALSE(group_has_folder_pins(scratch(L"group"), guard_));
    make_pin(scratch(L"group\\dir.lnk"), scratch());
    EXPECT_TRUE(group_has_folder_pins(scratch(L"group"), guard_));
}

TEST_F(quick_pins_listing, works_on_a_thread_without_com_and_leaves_it_without)
{
    make_file(scratch(L"a.txt"));
    make_pin(scratch(L"group\\a.lnk"), scratch(L"a.txt"));

    std::vector<std::wstring> names;
    HRESULT later = E_FAIL;
    std::thread([&] {
        names = display_names(list_group_entries(scratch(L"group"), guard_));
        // Had the listing left its apartment behind, joining the multi-threaded one would fail.
        later = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(later))
            CoUninitialize();
    }).join();
    EXPECT_EQ(names, std::vector<std::wstring>{L"a"});
    EXPECT_EQ(static_cast<unsigned long>(later), static_cast<unsigned long>(S_OK));

    // A thread in the multi-threaded apartment keeps it.
    std::thread([&] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        names = display_names(list_group_entries(scratch(L"group"), guard_));
        later = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        CoUninitialize();
        CoUninitialize();
    }).join();
    EXPECT_EQ(names, std::vector<std::wstring>{L"a"});
    EXPECT_EQ(static_cast<unsigned long>(later), static_cast<unsigned long>(S_FALSE));
}
} // namespace
