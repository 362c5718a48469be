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

// A folder on drive Z (Wine's view of the Unix root), which the fixture's guard reports unresponsive.
class z_drive_folder
{
public:
    z_drive_folder() : path_(L"Z:\\tmp\\velmora-quick-pins-" + std::to_wstring(GetCurrentProcessId()))
    {
        if (GetFileAttributesW(L"Z:\\tmp") != INVALID_FILE_ATTRIBUTES)
            std::filesystem::create_directories(path_);
    }
    ~z_drive_folder() { remove_tree(path_); }
    bool available() const { return GetFileAttributesW(path_.c_str()) != INVALID_FILE_ATTRIBUTES; }
    std::wstring path(const std::wstring& name = {}) const { return name.empty() ? path_ : path_ + L"\\" + name; }

private:
    std::wstring path_;
};

using quick_pins_groups = store_test;

TEST_F(quick_pins_groups, groups_from_the_model)
{
    const std::wstring defaults = default_groups_folder().wstring();
    const std::wstring shared = scratch(L"Shared");
    const struct { const char* name; std::function<void()> prepare; std::vector<quick_pin_group> expected; } rows[] = {
        {"no model", [] {}, {{L"Pins", defaults + L"\\Pins"}}},
        {"group of blanks, missing folder kept alone", [] { publish_groups({{u"   ", u""}}); },
         {{L"   ", defaults + L"\\Pins"}}},
        {"module folder variable", [] { publish_groups({{u"Tools", u"$vlm_directory\\Pins"}}); },
         {{L"Tools", test_support::executable_folder().wstring() + L"\\Pins"}}},
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
        clean();
        row.prepare();
        EXPECT_EQ(get_pin_groups(guard_), row.expected);
    }
}

// A share that stopped answering must not stall the navigation pane: its group and its pins are left out.
TEST_F(quick_pins_groups, groups_and_pins_on_an_unresponsive_volume_are_left_out)
{
    const z_drive_folder remote;
    if (!remote.available())
        GTEST_SKIP() << "no Z: drive in this prefix";
    make_file(remote.path(L"far.txt"));
    make_file(scratch(L"near.txt"));
    make_pin(group() + L"\\far.lnk", remote.path(L"far.txt"));
    make_pin(group() + L"\\near.lnk", scratch(L"near.txt"));
    publish_groups({{u"Far", u16(remote.path())}, {u"Near", u16(group())}});

    EXPECT_EQ(get_pin_groups(guard_), (std::vector<quick_pin_group>{{L"Near", group()}}));
    EXPECT_EQ(display_names(list_group_entries(group(), guard_)), std::vector<std::wstring>{L"near"});
    volume_guard everything_answers(volume_guard::system_environment());
    EXPECT_EQ(get_pin_groups(everything_answers).size(), 2u);
    EXPECT_EQ(display_names(list_group_entries(group(), everything_answers)), (std::vector<std::wstring>{L"far", L"near"}));
}

using quick_pins_listing = store_test;

TEST_F(quick_pins_listing, entries_of_a_group)
{
    const std::wstring g = group();
    const std::wstring targets = scratch(L"targets");
    for (const wchar_t* name : {L"b.txt", L"a.txt", L"c.txt", L"bond.txt", L"deleted.txt"})
        make_file(targets + L"\\" + name);
    std::filesystem::create_directories(targets + L"\\dir");

    make_pin(g + L"\\1. b.lnk", targets + L"\\b.txt");
    make_pin(g + L"\\10. a.lnk", targets + L"\\a.txt");
    make_pin(g + L"\\2. c.lnk", targets + L"\\c.txt");
    make_pin(g + L"\\007.lnk", targets + L"\\bond.txt");
    make_pin(g + L"\\d.lnk", targets + L"\\dir");
    // Wine's link object makes any path absolute, so the variable sits inside a full path here.
    SetEnvironmentVariableW(L"VELMORA_PIN_FOLDER", L"targets");
    make_pin(g + L"\\e.lnk", scratch(L"%VELMORA_PIN_FOLDER%\\a.txt"));
    for (const wchar_t* name : {L"10. Archive", L"--", L"hidden folder", L"system folder"})
        std::filesystem::create_directories(g + L"\\" + name);
    make_file(g + L"\\notes.txt");
    make_file(g + L"\\web.url", "[InternetShortcut]\r\nURL=https://example.invalid/\r\n");

    // Never listed: separators, hidden and system files, hidden folders, broken pins, files that are no shortcut.
    make_pin(g + L"\\Separator.lnk", targets + L"\\a.txt");
    make_file(g + L"\\4. separator.url");
    make_pin(g + L"\\---.lnk", targets + L"\\a.txt");
    make_file(g + L"\\hidden.txt");
    SetFileAttributesW((g + L"\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
    make_file(g + L"\\system.txt");
    SetFileAttributesW((g + L"\\system.txt").c_str(), FILE_ATTRIBUTE_SYSTEM);
    SetFileAttributesW((g + L"\\hidden folder").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY);
    // A system folder that is not hidden is listed.
    SetFileAttributesW((g + L"\\system folder").c_str(), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY);
    make_pin(g + L"\\deleted.lnk", targets + L"\\deleted.txt");
    std::filesystem::remove(targets + L"\\deleted.txt");
    make_file(g + L"\\garbage.lnk", "not a shortcut");

    const std::vector<quick_pin_entry> expected = {
        {L"Archive", g + L"\\10. Archive", g + L"\\10. Archive", true, true},
        {L"d", targets + L"\\dir", g + L"\\d.lnk", false, true},
        {L"system folder", g + L"\\system folder", g + L"\\system folder", true, true},
        {L"b", targets + L"\\b.txt", g + L"\\1. b.lnk", false, false},
        {L"c", targets + L"\\c.txt", g + L"\\2. c.lnk", false, false},
        {L"007", targets + L"\\bond.txt", g + L"\\007.lnk", false, false},
        {L"a", targets + L"\\a.txt", g + L"\\10. a.lnk", false, false},
        {L"e", targets + L"\\a.txt", g + L"\\e.lnk", false, false},
        {L"notes.txt", g + L"\\notes.txt", g + L"\\notes.txt", false, false},
        {L"web", g + L"\\web.url", g + L"\\web.url", false, false},
    };
    EXPECT_EQ(list_group_entries(g, guard_), expected);
    EXPECT_EQ(list_group_entries(g + L"\\", guard_), expected);
    SetEnvironmentVariableW(L"VELMORA_PIN_FOLDER", nullptr);
    EXPECT_TRUE(group_has_folder_pins(g, guard_));
    EXPECT_TRUE(std::filesystem::exists(g + L"\\deleted.lnk")) << "a broken pin's shortcut stays on disk";
}

TEST_F(quick_pins_listing, at_most_200_entries_and_skipped_items_do_not_count)
{
    make_file(scratch(L"gone.txt"));
    for (int i = 0; i < 10; ++i)
        make_pin(group() + L"\\broken " + std::to_wstring(i) + L".lnk", scratch(L"gone.txt"));
    std::filesystem::remove(scratch(L"gone.txt"));
    for (int i = 0; i < 5; ++i)
        make_file(group() + L"\\" + std::to_wstring(i) + L". ---.txt");
    for (int i = 1; i <= 200; ++i)
        make_file(group() + L"\\file " + std::to_wstring(i) + L".txt");

    auto entries = list_group_entries(group(), guard_);
    ASSERT_EQ(entries.size(), 200u);
    for (int i = 1; i <= 200; ++i)
    {
        EXPECT_EQ(entries[i - 1].display_name, L"file " + std::to_wstring(i) + L".txt");
    }

    for (int i = 201; i <= 230; ++i)
        make_file(group() + L"\\file " + std::to_wstring(i) + L".txt");
    entries = list_group_entries(group(), guard_);
    EXPECT_EQ(entries.size(), 200u);
    // Whatever was found first, the result is sorted.
    for (std::size_t i = 1; i < entries.size(); ++i)
    {
        EXPECT_LT(StrCmpLogicalW(entries[i - 1].display_name.c_str(), entries[i].display_name.c_str()), 0);
    }
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

TEST_F(quick_pins_listing, works_on_a_thread_without_com_and_leaves_it_as_it_was)
{
    make_file(scratch(L"a.txt"));
    make_pin(group() + L"\\a.lnk", scratch(L"a.txt"));
    for (const bool in_mta : {false, true})
    {
        SCOPED_TRACE(in_mta ? "thread in the multi-threaded apartment" : "thread without COM");
        std::vector<std::wstring> names;
        HRESULT later = E_FAIL;
        std::thread([&] {
            if (in_mta)
            {
                ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
            }
            names = display_names(list_group_entries(group(), guard_));
            // Had the listing left its apartment behind, joining the multi-threaded one would fail.
            later = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            if (SUCCEEDED(later))
                CoUninitialize();
            if (in_mta)
                CoUninitialize();
        }).join();
        EXPECT_EQ(names, std::vector<std::wstring>{L"a"});
        EXPECT_EQ(static_cast<unsigned long>(later), static_cast<unsigned long>(in_mta ? S_FALSE : S_OK));
    }
}
} // namespace
