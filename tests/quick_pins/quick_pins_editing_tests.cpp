// Pinning, unpinning and renaming: the files on disk and the exact log lines.

#include "store_fixture.h"

#include "base/raii.h"

#include <objidl.h>
#include <shlobj.h>
#include <shlwapi.h>

using namespace quick_pins_test;

namespace
{
// Path, working folder, arguments and description of a shortcut: a pin sets only the first two.
wstrings link_fields(const std::wstring& file)
{
    com_ptr<IShellLinkW> link;
    EXPECT_EQ(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void()), S_OK);
    if (!link || FAILED(link.try_query<IPersistFile>()->Load(file.c_str(), STGM_READ)))
        return {};
    wchar_t path[MAX_PATH] = {}, folder[MAX_PATH] = {}, arguments[MAX_PATH] = {}, description[MAX_PATH] = {};
    link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH);
    link->GetWorkingDirectory(folder, MAX_PATH);
    link->GetArguments(arguments, MAX_PATH);
    link->GetDescription(description, MAX_PATH);
    return {path, folder, arguments, description};
}

using pinned = std::optional<std::size_t>;

using quick_pins_pinning = store_test;

TEST_F(quick_pins_pinning, writes_one_plain_shortcut_per_new_path_into_a_folder_it_creates)
{
    const std::wstring nested = scratch(L"deleted\\deeper\\Group");
    make_file(scratch(L"docs\\a.txt"));
    std::filesystem::create_directories(scratch(L"docs\\Folder"));

    test_support::log_capture log;
    EXPECT_EQ(pin_items(nested, {scratch(L"docs\\a.txt"), L"", scratch(L"docs\\Folder"), L"C:\\"}), pinned(3));
    EXPECT_EQ(link_fields(nested + L"\\a.txt.lnk"), (wstrings{scratch(L"docs\\a.txt"), scratch(L"docs"), L"", L""}));
    EXPECT_EQ(link_fields(nested + L"\\Folder.lnk"), (wstrings{scratch(L"docs\\Folder"), scratch(L"docs"), L"", L""}));

    // The same paths again, one in another case: nothing new, and the count 0 is still logged.
    EXPECT_EQ(pin_items(nested, {scratch(L"DOCS\\A.TXT"), scratch(L"docs\\Folder")}), pinned(0));
    EXPECT_EQ(folder_contents(nested), (wstrings{L"C__.lnk", L"Folder.lnk", L"a.txt.lnk"}));
    EXPECT_EQ(log.messages(), (strings{"INFO [quick-pins] Pinned 3 item(s) to '" + to_utf8(nested) + "'",
                                                        "INFO [quick-pins] Pinned 0 item(s) to '" + to_utf8(nested) + "'"}));
}

TEST_F(quick_pins_pinning, numbers_end_at_999)
{
    // Taken names need not be shortcuts: a folder or any file of that name counts.
    make_file(group() + L"\\n.txt.lnk", "");
    std::filesystem::create_directories(group() + L"\\n.txt (2).lnk");
    for (int number = 3; number <= 998; ++number)
        make_file(group() + L"\\n.txt (" + std::to_wstring(number) + L").lnk", "");
    for (const wchar_t* file : {L"1\\n.txt", L"2\\n.txt", L"first.txt", L"last.txt"})
        make_file(scratch(file));

    EXPECT_EQ(pin_items(group(), {scratch(L"1\\n.txt")}), pinned(1));
    EXPECT_EQ(read_link_raw_path(group() + L"\\n.txt (999).lnk"), scratch(L"1\\n.txt"));

    // No free name is left: the pin before stays, the one after is not tried, and nothing is replaced.
    test_support::log_capture log;
    EXPECT_EQ(pin_items(group(), {scratch(L"first.txt"), scratch(L"2\\n.txt"), scratch(L"last.txt")}), std::nullopt);
    EXPECT_EQ(log.messages(),
              strings{"ERROR [quick-pins] Could not write '" + to_utf8(group()) + "\\n.txt (999).lnk'"});
    EXPECT_TRUE(std::filesystem::exists(group() + L"\\first.txt.lnk"));
    EXPECT_FALSE(std::filesystem::exists(group() + L"\\last.txt.lnk"));
    EXPECT_EQ(read_link_raw_path(group() + L"\\n.txt (999).lnk"), scratch(L"1\\n.txt"));
}

TEST_F(quick_pins_pinning, refused_input)
{
    make_file(scratch(L"a.txt"));
    make_file(scratch(L"blocker"));
    const std::wstring under_a_file = scratch(L"blocker\\Group");
    const struct { const char* name; std::wstring folder; wstrings paths; strings log; } rows[] = {
        {"no folder", L"", {scratch(L"a.txt")}, {}},
        {"no paths", group(), {}, {}},
        {"201 paths", group(), wstrings(201, scratch(L"a.txt")), {}},
        // libstdc++ reports the C runtime's errno here: ENOTDIR (20).
        {"folder below a file", under_a_file, {scratch(L"a.txt")},
         {"ERROR [quick-pins] Could not create '" + to_utf8(under_a_file) + "': 20"}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        test_support::log_capture log;
        EXPECT_EQ(pin_items(row.folder, row.paths), std::nullopt);
        EXPECT_EQ(log.messages(), row.log);
        EXPECT_FALSE(std::filesystem::exists(group()));
    }
    // 200 paths are accepted (they are one and the same, so one pin).
    EXPECT_EQ(pin_items(group(), wstrings(200, scratch(L"a.txt"))), pinned(1));
}

using quick_pins_unpinning = store_test;

TEST_F(quick_pins_unpinning, only_shortcuts_of_the_group_folder)
{
    for (const wchar_t* name : {L"a.txt", L"b.txt", L"other\\c.lnk"})
        make_file(scratch(name));
    const auto pin = [&](const wchar_t* name) { return group() + L"\\" + name; };
    std::wstring upper = pin(L"A.TXT.LNK");
    CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    const auto not_in = [&](const std::wstring& file) {
        return "ERROR [quick-pins] '" + to_utf8(file) + "' is not in '" + to_utf8(group()) + "' and was not removed";
    };
    const struct { const char* name; std::wstring folder; wstrings files; bool result; strings log;
                   wstrings left; } rows[] = {
        // One path elsewhere and nothing at all is removed, not even the paths that lie in the group.
        {"another folder", group(), {pin(L"a.txt.lnk"), scratch(L"other\\c.lnk"), pin(L"b.txt.lnk")}, false,
         {not_in(scratch(L"other\\c.lnk"))}, {L"a.txt.lnk", L"b.txt.lnk"}},
        {"a sub-folder of the group", group(), {pin(L"a.txt.lnk"), pin(L"sub\\c.lnk")}, false, {not_in(pin(L"sub\\c.lnk"))},
         {L"a.txt.lnk", L"b.txt.lnk"}},
        {"nothing left to remove", group(), {pin(L"gone.lnk"), L""}, true, {}, {L"a.txt.lnk", L"b.txt.lnk"}},
        {"no folder", L"", {pin(L"a.txt.lnk")}, false, {}, {L"a.txt.lnk", L"b.txt.lnk"}},
        {"no paths", group(), {}, false, {}, {L"a.txt.lnk", L"b.txt.lnk"}},
        {"201 paths", group(), wstrings(201, pin(L"a.txt.lnk")), false, {}, {L"a.txt.lnk", L"b.txt.lnk"}},
        {"folder compared ignoring case and trailing backslashes", group() + L"\\\\", {upper, L"", pin(L"b.txt.lnk")}, true,
         {"INFO [quick-pins] Unpinned 2 item(s) from '" + to_utf8(group()) + "\\\\'"}, {}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(pin_items(group(), {scratch(L"a.txt"), scratch(L"b.txt")}));
        test_support::log_capture log;
        EXPECT_EQ(unpin_items(row.folder, row.files), row.result);
        EXPECT_EQ(log.messages(), row.log);
        EXPECT_EQ(folder_contents(group()), row.left);
    }
    EXPECT_TRUE(std::filesystem::exists(scratch(L"other\\c.lnk")));
}

using quick_pins_renaming = store_test;

TEST_F(quick_pins_renaming, keeps_prefix_and_extension)
{
    const std::wstring folder = scratch(L"rename");
    const struct
    {
        const wchar_t* old_name;
        bool is_group;
        const wchar_t* new_name;
        DWORD error;
        const wchar_t* result; // the name on disk afterwards
    } rows[] = {
        {L"3. Old.lnk", false, L"New. .", ERROR_SUCCESS, L"3. New.lnk"},
        {L"3. Old.lnk", false, L"old", ERROR_SUCCESS, L"3. Old.lnk"},
        {L"3. Old.lnk", false, L"Taken", ERROR_ALREADY_EXISTS, L"3. Old.lnk"},
        {L"007.lnk", false, L"Bond", ERROR_SUCCESS, L"Bond.lnk"},
        {L"Report.pdf.lnk", false, L"Final", ERROR_SUCCESS, L"Final.lnk"},
        {L"2. Work", true, L"Play", ERROR_SUCCESS, L"2. Play"},
        {L"2024.05", true, L"06", ERROR_SUCCESS, L"2024.06"},
        {L"2024", true, L"2025", ERROR_SUCCESS, L"2025"},
        {L"Work.old", true, L"Work", ERROR_SUCCESS, L"Work"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(to_utf8(row.old_name) + " -> " + to_utf8(row.new_name));
        remove_tree(folder);
        const std::wstring old_path = folder + L"\\" + row.old_name;
        if (row.is_group)
            std::filesystem::create_directories(old_path);
        else
            make_file(old_path, "pin");
        make_file(folder + L"\\3. Taken.lnk", "other");

        test_support::log_capture log;
        const auto renamed = rename_pin_file(old_path, row.is_group, row.new_name);
        EXPECT_EQ(renamed.error, row.error);
        if (row.error == ERROR_SUCCESS)
        {
            EXPECT_EQ(renamed.path, folder + L"\\" + row.result);
            EXPECT_EQ(log.messages(), strings{});
        }
        else
        {
            EXPECT_EQ(log.messages(), strings{"ERROR SetNameOf: could not rename pin " + to_utf8(old_path) +
                                                               " -> " + to_utf8(folder) + "\\3. Taken.lnk, error 183"});
        }
        EXPECT_TRUE(std::filesystem::exists(folder + L"\\" + row.result));
        EXPECT_EQ(test_support::read_file(folder + L"\\3. Taken.lnk"), "other");
    }
}

TEST_F(quick_pins_renaming, refuses_invalid_names_with_123_and_reports_a_missing_entry)
{
    make_file(scratch(L"3. Old.lnk"));
    test_support::log_capture log;
    for (const wchar_t* name : {L"a|b", L"a/b", L"a:b", L"a*", L"a?", L"<a", L"a>", L"a\\b", L"", L"   ", L" . .", L"."})
    {
        SCOPED_TRACE(to_utf8(name));
        EXPECT_EQ(rename_pin_file(scratch(L"3. Old.lnk"), false, name).error, static_cast<DWORD>(ERROR_INVALID_NAME));
    }
    EXPECT_EQ(log.messages(), strings{});
    EXPECT_EQ(folder_contents(scratch()), wstrings{L"3. Old.lnk"});

    EXPECT_EQ(rename_pin_file(scratch(L"gone.lnk"), false, L"New").error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(log.messages(), strings{"ERROR SetNameOf: could not rename pin " + to_utf8(scratch(L"gone.lnk")) +
                                                       " -> " + to_utf8(scratch(L"New.lnk")) + ", error 2"});
}
} // namespace
