// Pinning, unpinning and renaming: the files on disk and the exact log lines.

#include "store_fixture.h"
#include "recycle_bin.h"

#include "module/raii.h"

#include <objidl.h>
#include <shlobj.h>

using namespace quick_pins_test;

namespace
{
struct link_fields
{
    std::wstring raw_path;
    std::wstring working_directory;
    std::wstring arguments;
    std::wstring description;

    friend bool operator==(const link_fields&, const link_fields&) = default;
};

link_fields read_link(const std::wstring& file)
{
    link_fields fields;
    com_ptr<IShellLinkW> link;
    EXPECT_EQ(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void()), S_OK);
    if (!link)
        return fields;
    EXPECT_EQ(link.try_query<IPersistFile>()->Load(file.c_str(), STGM_READ), S_OK) << to_utf8(file);
    wchar_t text[MAX_PATH] = {};
    link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
    fields.raw_path = text;
    text[0] = L'\0';
    link->GetWorkingDirectory(text, MAX_PATH);
    fields.working_directory = text;
    text[0] = L'\0';
    link->GetArguments(text, MAX_PATH);
    fields.arguments = text;
    text[0] = L'\0';
    link->GetDescription(text, MAX_PATH);
    fields.description = text;
    return fields;
}

std::string narrow(const std::wstring& text)
{
    return to_utf8(text);
}

class quick_pins_pinning : public store_test
{
protected:
    std::wstring group() const { return scratch(L"Group"); }
};

TEST_F(quick_pins_pinning, writes_one_plain_shortcut_per_new_path)
{
    make_file(scratch(L"docs\\a.txt"));
    std::filesystem::create_directories(scratch(L"docs\\Folder"));

    test_support::log_capture log;
    EXPECT_EQ(pin_items(group(), {scratch(L"docs\\a.txt"), L"", scratch(L"docs\\Folder")}), std::optional<std::size_t>(2));
    EXPECT_EQ(folder_contents(group()), (std::vector<std::wstring>{L"Folder.lnk", L"a.txt.lnk"}));
    EXPECT_EQ(read_link(group() + L"\\a.txt.lnk"), (link_fields{scratch(L"docs\\a.txt"), scratch(L"docs"), L"", L""}));
    EXPECT_EQ(read_link(group() + L"\\Folder.lnk"), (link_fields{scratch(L"docs\\Folder"), scratch(L"docs"), L"", L""}));

    // The same paths again, one in another case: nothing new, and the count 0 is still logged.
    std::wstring upper = scratch(L"DOCS\\A.TXT");
    EXPECT_EQ(pin_items(group(), {upper, scratch(L"docs\\Folder")}), std::optional<std::size_t>(0));
    EXPECT_EQ(folder_contents(group()), (std::vector<std::wstring>{L"Folder.lnk", L"a.txt.lnk"}));

    EXPECT_EQ(log.messages(), (std::vector<std::string>{
                                  "INFO [quick-pins] Pinned 2 item(s) to '" + narrow(group()) + "'",
                                  "INFO [quick-pins] Pinned 0 item(s) to '" + narrow(group()) + "'",
                              }));
    EXPECT_EQ(display_names(list_group_entries(group(), guard_)), (std::vector<std::wstring>{L"Folder", L"a.txt"}));
}

TEST_F(quick_pins_pinning, same_names_are_numbered)
{
    make_file(scratch(L"one\\a.txt"));
    make_file(scratch(L"two\\a.txt"));
    make_file(scratch(L"three\\a.txt"));
    EXPECT_EQ(pin_items(group(), {scratch(L"one\\a.txt"), scratch(L"two\\a.txt")}), std::optional<std::size_t>(2));
    EXPECT_EQ(pin_items(group(), {scratch(L"three\\a.txt")}), std::optional<std::size_t>(1));
    EXPECT_EQ(folder_contents(group()),
              (std::vector<std::wstring>{L"a.txt (2).lnk", L"a.txt (3).lnk", L"a.txt.lnk"}));
    EXPECT_EQ(read_link(group() + L"\\a.txt (2).lnk").raw_path, scratch(L"two\\a.txt"));
    // The number stays in the shown name, so that the user can tell the pins apart.
    EXPECT_EQ(display_names(list_group_entries(group(), guard_)),
              (std::vector<std::wstring>{L"a.txt (2)", L"a.txt (3)", L"a.txt"}));
}

TEST_F(quick_pins_pinning, drive_root)
{
    EXPECT_EQ(pin_items(group(), {L"C:\\"}), std::optional<std::size_t>(1));
    EXPECT_EQ(folder_contents(group()), std::vector<std::wstring>{L"C__.lnk"});
    const auto entries = list_group_entries(group(), guard_);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0], (quick_pin_entry{L"C__", L"C:\\", group() + L"\\C__.lnk", false, true}));
}

TEST_F(quick_pins_pinning, numbers_end_at_999)
{
    std::filesystem::create_directories(group());
    // Taken names need not be shortcuts: a folder or any file of that name counts.
    make_file(group() + L"\\n.txt.lnk", "");
    std::filesystem::create_directories(group() + L"\\n.txt (2).lnk");
    for (int number = 3; number <= 998; ++number)
        make_file(group() + L"\\n.txt (" + std::to_wstring(number) + L").lnk", "");
    make_file(scratch(L"1\\n.txt"));
    make_file(scratch(L"2\\n.txt"));
    make_file(scratch(L"first.txt"));
    make_file(scratch(L"last.txt"));

    EXPECT_EQ(pin_items(group(), {scratch(L"1\\n.txt")}), std::optional<std::size_t>(1));
    EXPECT_EQ(read_link(group() + L"\\n.txt (999).lnk").raw_path, scratch(L"1\\n.txt"));

    // No free name is left: the pin before stays, the one after is not tried, and nothing is replaced.
    test_support::log_capture log;
    EXPECT_EQ(pin_items(group(), {scratch(L"first.txt"), scratch(L"2\\n.txt"), scratch(L"last.txt")}), std::nullopt);
    EXPECT_EQ(log.messages(), std::vector<std::string>{"ERROR [quick-pins] Could not write '" + narrow(group()) +
                                                       "\\n.txt (999).lnk'"});
    EXPECT_TRUE(std::filesystem::exists(group() + L"\\first.txt.lnk"));
    EXPECT_FALSE(std::filesystem::exists(group() + L"\\last.txt.lnk"));
    EXPECT_EQ(read_link(group() + L"\\n.txt (999).lnk").raw_path, scratch(L"1\\n.txt"));
}

TEST_F(quick_pins_pinning, refused_input)
{
    make_file(scratch(L"a.txt"));
    make_file(scratch(L"blocker"));
    const std::vector<std::wstring> too_many(201, scratch(L"a.txt"));
    const std::wstring under_a_file = scratch(L"blocker\\Group");
    const struct
    {
        const char* name;
        std::wstring folder;
        std::vector<std::wstring> paths;
        std::vector<std::string> log;
    } rows[] = {
        {"no folder", L"", {scratch(L"a.txt")}, {}},
        {"no paths", group(), {}, {}},
        {"201 paths", group(), too_many, {}},
        // libstdc++ reports the C runtime's errno here: ENOTDIR (20).
        {"folder below a file", under_a_file, {scratch(L"a.txt")},
         {"ERROR [quick-pins] Could not create '" + narrow(under_a_file) + "': 20"}},
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
    EXPECT_EQ(pin_items(group(), std::vector<std::wstring>(200, scratch(L"a.txt"))), std::optional<std::size_t>(1));
}

TEST_F(quick_pins_pinning, recreates_a_deleted_group_folder)
{
    make_file(scratch(L"a.txt"));
    const std::wstring nested = scratch(L"deleted\\deeper\\Group");
    EXPECT_EQ(pin_items(nested, {scratch(L"a.txt")}), std::optional<std::size_t>(1));
    EXPECT_EQ(folder_contents(nested), std::vector<std::wstring>{L"a.txt.lnk"});
}

class quick_pins_unpinning : public store_test
{
protected:
    void SetUp() override
    {
        store_test::SetUp();
        make_file(scratch(L"a.txt"));
        make_file(scratch(L"b.txt"));
        forget_recycled();
        ASSERT_EQ(pin_items(group(), {scratch(L"a.txt"), scratch(L"b.txt")}), std::optional<std::size_t>(2));
    }
    void TearDown() override
    {
        forget_recycled();
        store_test::TearDown();
    }
    void forget_recycled() const
    {
        recycle_bin::wine_trash_forget(pin(L"a.txt.lnk"));
        recycle_bin::wine_trash_forget(pin(L"b.txt.lnk"));
    }
    std::wstring group() const { return scratch(L"Group"); }
    std::wstring pin(const wchar_t* name) const { return group() + L"\\" + name; }
};

TEST_F(quick_pins_unpinning, moves_the_shortcut_to_the_recycle_bin)
{
    const std::string bytes = test_support::read_file(pin(L"a.txt.lnk"));
    const int before = recycle_bin::shell_items_from(pin(L"a.txt.lnk"));
    ASSERT_GE(before, 0) << "the shell has no Recycle Bin folder";
    test_support::log_capture log;
    EXPECT_TRUE(unpin_items(group(), {pin(L"a.txt.lnk")}));
    EXPECT_EQ(log.messages(), std::vector<std::string>{"INFO [quick-pins] Unpinned 1 item(s) from '" +
                                                       narrow(group()) + "'"});
    EXPECT_EQ(folder_contents(group()), std::vector<std::wstring>{L"b.txt.lnk"});
    // The target is never touched.
    EXPECT_TRUE(std::filesystem::exists(scratch(L"a.txt")));
    // Not deleted outright: the Recycle Bin shows it from its old location, and keeps its bytes.
    EXPECT_EQ(recycle_bin::shell_items_from(pin(L"a.txt.lnk")), before + 1);
    if (const auto contents = recycle_bin::wine_trash_contents(pin(L"a.txt.lnk")))
    {
        ASSERT_EQ(contents->size(), 1u);
        EXPECT_TRUE(contents->front() == bytes) << "the recycled shortcut differs from the pin";
    }
}

TEST_F(quick_pins_unpinning, a_path_elsewhere_removes_nothing)
{
    make_file(scratch(L"other\\c.lnk"));
    const struct
    {
        const char* name;
        std::wstring stranger;
    } rows[] = {
        {"another folder", scratch(L"other\\c.lnk")},
        {"a sub-folder of the group", pin(L"sub\\c.lnk")},
        {"a name without folder", L"c.lnk"},
        {"the group folder's parent", scratch(L"a.txt")},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        test_support::log_capture log;
        EXPECT_FALSE(unpin_items(group(), {pin(L"a.txt.lnk"), row.stranger, pin(L"b.txt.lnk")}));
        EXPECT_EQ(log.messages(), std::vector<std::string>{"ERROR [quick-pins] '" + narrow(row.stranger) +
                                                           "' is not in '" + narrow(group()) +
                                                           "' and was not removed"});
        EXPECT_EQ(folder_contents(group()), (std::vector<std::wstring>{L"a.txt.lnk", L"b.txt.lnk"}));
    }
    EXPECT_TRUE(std::filesystem::exists(scratch(L"other\\c.lnk")));
}

TEST_F(quick_pins_unpinning, folder_compared_ignoring_case_and_trailing_backslashes)
{
    std::wstring upper = pin(L"A.TXT.LNK");
    CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    test_support::log_capture log;
    EXPECT_TRUE(unpin_items(group() + L"\\\\", {upper, L"", pin(L"b.txt.lnk")}));
    EXPECT_EQ(folder_contents(group()), std::vector<std::wstring>{});
    EXPECT_EQ(log.messages(), std::vector<std::string>{"INFO [quick-pins] Unpinned 2 item(s) from '" +
                                                       narrow(group()) + "\\\\'"});
}

TEST_F(quick_pins_unpinning, nothing_left_to_remove)
{
    test_support::log_capture log;
    EXPECT_TRUE(unpin_items(group(), {pin(L"gone.lnk"), L""}));
    EXPECT_EQ(log.messages(), std::vector<std::string>{});

    EXPECT_FALSE(unpin_items(L"", {pin(L"a.txt.lnk")}));
    EXPECT_FALSE(unpin_items(group(), {}));
    EXPECT_FALSE(unpin_items(group(), std::vector<std::wstring>(201, pin(L"a.txt.lnk"))));
    EXPECT_EQ(log.messages(), std::vector<std::string>{});
    EXPECT_EQ(folder_contents(group()), (std::vector<std::wstring>{L"a.txt.lnk", L"b.txt.lnk"}));
}

using quick_pins_renaming = store_test;

TEST_F(quick_pins_renaming, keeps_prefix_and_extension)
{
    const struct
    {
        const wchar_t* old_name;
        bool is_group;
        const wchar_t* new_name;
        DWORD error;
        const wchar_t* result; // the name on disk afterwards
    } rows[] = {
        {L"3. Old.lnk", false, L"New", ERROR_SUCCESS, L"3. New.lnk"},
        {L"3. Old.lnk", false, L"New.", ERROR_SUCCESS, L"3. New.lnk"},
        {L"3. Old.lnk", false, L"New . .", ERROR_SUCCESS, L"3. New.lnk"},
        {L"3. Old.lnk", false, L"  Spaced", ERROR_SUCCESS, L"3.   Spaced.lnk"},
        {L"3. Old.lnk", false, L"old", ERROR_SUCCESS, L"3. Old.lnk"},
        {L"3. Old.lnk", false, L"Taken", ERROR_ALREADY_EXISTS, L"3. Old.lnk"},
        {L"007.lnk", false, L"Bond", ERROR_SUCCESS, L"Bond.lnk"},
        {L"Report.pdf.lnk", false, L"Final", ERROR_SUCCESS, L"Final.lnk"},
        {L"2 Notes.txt", false, L"Memo", ERROR_SUCCESS, L"2 Memo.txt"},
        {L"web.url", false, L"site", ERROR_SUCCESS, L"site.url"},
        {L"2. Work", true, L"Play", ERROR_SUCCESS, L"2. Play"},
        {L"2024.05", true, L"06", ERROR_SUCCESS, L"2024.06"},
        {L"2024", true, L"2025", ERROR_SUCCESS, L"2025"},
        {L"Work.old", true, L"Work", ERROR_SUCCESS, L"Work"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(to_utf8(row.old_name) + " -> " + to_utf8(row.new_name));
        const std::wstring folder = scratch(L"rename");
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
            EXPECT_EQ(log.messages(), std::vector<std::string>{});
        }
        else
        {
            EXPECT_EQ(log.messages(), std::vector<std::string>{
                                          "ERROR SetNameOf: could not rename pin " + narrow(old_path) + " -> " +
                                          narrow(folder) + "\\3. Taken.lnk, error 183"});
        }
        EXPECT_TRUE(std::filesystem::exists(folder + L"\\" + row.result));
        EXPECT_EQ(test_support::read_file(folder + L"\\3. Taken.lnk"), "other");
    }
}

TEST_F(quick_pins_renaming, refuses_invalid_names)
{
    make_file(scratch(L"3. Old.lnk"));
    for (const wchar_t* name : {L"a|b", L"a/b", L"a:b", L"a*", L"a?", L"<a", L"a>", L"a\\b", L"", L"   ", L" . .", L"."})
    {
        SCOPED_TRACE(to_utf8(name));
        test_support::log_capture log;
        const auto renamed = rename_pin_file(scratch(L"3. Old.lnk"), false, name);
        EXPECT_EQ(renamed.error, static_cast<DWORD>(ERROR_INVALID_NAME));
        EXPECT_EQ(log.messages(), std::vector<std::string>{});
    }
    EXPECT_EQ(folder_contents(scratch()), std::vector<std::wstring>{L"3. Old.lnk"});
}

TEST_F(quick_pins_renaming, missing_entry_reports_the_system_error)
{
    test_support::log_capture log;
    const auto renamed = rename_pin_file(scratch(L"gone.lnk"), false, L"New");
    EXPECT_EQ(renamed.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(log.messages(), std::vector<std::string>{"ERROR SetNameOf: could not rename pin " +
                                                       narrow(scratch(L"gone.lnk")) + " -> " +
                                                       narrow(scratch(L"New.lnk")) + ", error 2"});
}
} // namespace
