// The trees below both roots, called directly: a Quick pins group whose folder vanishes while it is
// listed, binding to real children, and parsing display names back into ID lists.

#include "folder_test_support.h"

#include "quick_pins/store_fixture.h"

#include <atomic>
#include <thread>

namespace
{
using namespace folder_test;

class folder_tree : public folder_fixture
{
protected:
    void SetUp() override
    {
        folder_fixture::SetUp();
        quick_pins_test::remove_tree(quick_pins_test::published_folder());
        quick_pins_test::remove_tree(quick_pins_test::default_groups_folder());
    }
    void TearDown() override
    {
        quick_pins_test::remove_tree(quick_pins_test::published_folder());
        quick_pins_test::remove_tree(quick_pins_test::default_groups_folder());
        folder_fixture::TearDown();
    }

    std::wstring file(const std::wstring& relative)
    {
        test_support::write_file(scratch_.path() / relative, "x");
        return (scratch_.path() / relative).wstring();
    }
    std::wstring folder(const std::wstring& relative)
    {
        std::filesystem::create_directories(scratch_.path() / relative);
        return (scratch_.path() / relative).wstring();
    }

    test_support::scratch_folder scratch_{L"folder-tree"};
};

TEST_F(folder_tree, a_group_folder_that_vanishes_while_listed_gives_a_short_listing)
{
    const auto group_folder = folder(L"Flaky");
    for (int i = 0; i < 20; ++i)
        file(L"Flaky\\" + std::to_wstring(i) + L".txt");
    quick_pins_test::publish_groups({{u"Flaky", quick_pins_test::u16(group_folder)}, {u"Other", quick_pins_test::u16(folder(L"Other"))}});
    const auto root = make_root(true);
    const auto group = bind(root.get(), L"Flaky");
    ASSERT_TRUE(group);

    std::atomic<bool> stop{false};
    std::thread churn([&] {
        while (!stop)
        {
            std::error_code ec;
            std::filesystem::remove_all(group_folder, ec);
            std::filesystem::create_directories(group_folder, ec);
            for (int i = 0; i < 20; ++i)
                test_support::write_file(std::filesystem::path(group_folder) / (std::to_wstring(i) + L".txt"), "x");
        }
    });
    for (int round = 0; round < 40; ++round)
    {
        HRESULT hr = E_FAIL;
        EXPECT_LE(enumerate(group.get(), SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &hr).size(), 20u);
        EXPECT_EQ(hex(hr), hex(S_OK));
    }
    stop = true;
    churn.join();
    std::filesystem::remove_all(group_folder);
    HRESULT hr = E_FAIL;
    EXPECT_TRUE(enumerate(group.get(), SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &hr).empty());
    EXPECT_EQ(hex(hr), hex(S_OK));
}

TEST_F(folder_tree, binding_hands_real_children_to_the_file_system)
{
    const auto real = folder(L"Real");
    file(L"Real\\inside.txt");
    const auto root = make_root(false);

    // A result or a pin that is a folder binds to the real folder.
    for (const auto& item : {create_result_item(real, {}, {}), create_pin_item_from_parts(real, L"Pinned", L"")})
    {
        com_ptr<IShellFolder> bound;
        ASSERT_EQ(hex(root->BindToObject(reinterpret_cast<PCUIDLIST_RELATIVE>(item.get()), nullptr, IID_IShellFolder,
                                         bound.put_void())),
                  hex(S_OK));
        const auto inside = enumerate(bound.get());
        ASSERT_EQ(inside.size(), 1u);
        EXPECT_EQ(display_name(bound.get(), inside[0].get(), SHGDN_INFOLDER | SHGDN_FORPARSING), L"inside.txt");
    }

    // Our own children, one level or several at once, are bound by every listing through the shell.
    const auto organised = create_folder_item({.name = L"Ratings"});
    const auto* list = reinterpret_cast<PCUIDLIST_RELATIVE>(organised.get());
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(root->BindToObject(nullptr, nullptr, IID_IShellFolder, &out), E_INVALIDARG);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(root->BindToObject(list, nullptr, IID_IShellFolder, nullptr), E_INVALIDARG);
    EXPECT_EQ(root->BindToStorage(list, nullptr, IID_IStream, &out), E_NOTIMPL);
}

// Rows: the folder's place (names from the root), the text, what it answers and the display names of
// the items it hands out.
TEST_F(folder_tree, parsing_names_of_the_main_tree_ignores_case_and_hands_out_the_items_below_the_folder)
{
    const auto root = make_root(false);
    const auto ratings = bind(root.get(), L"Ratings");
    ASSERT_TRUE(ratings);
    const struct
    {
        const char* row;
        IShellFolder* folder;
        std::wstring text;
        HRESULT expected;
        std::vector<std::wstring> items;
    } rows[] = {
        {"folder", root.get(), L"Ratings", S_OK, {L"Ratings"}},
        {"folder and search, other case", root.get(), L"ratings\\★★★", S_OK, {L"Ratings", L"★★★"}},
        {"absolute", root.get(), main_root + L"\\Tags\\family", S_OK, {L"Tags", L"Family"}},
        {"absolute, root in lower case", root.get(), L"::{249ae234-08df-4686-aaf3-5d80a15493be}\\Tags", S_OK, {L"Tags"}},
        {"trailing backslash", root.get(), L"Ratings\\", S_OK, {L"Ratings"}},
        {"three names", root.get(), L"Ratings\\★★★\\x", E_FAIL, {}},
        {"unknown folder", root.get(), L"Nope", E_FAIL, {}},
        {"unknown search", root.get(), L"Ratings\\Nope", E_FAIL, {}},
        {"tag past the end", root.get(), L"Tags\\$tags[6].name", E_FAIL, {}},
        {"root alone", root.get(), main_root, E_FAIL, {}},
        {"other root", root.get(), quick_pins_root + L"\\Ratings", E_FAIL, {}},
        {"relative below a folder", ratings.get(), L"★", S_OK, {L"★"}},
        {"absolute below a folder", ratings.get(), main_root + L"\\RATINGS\\★★", S_OK, {L"★★"}},
        {"absolute elsewhere", ratings.get(), main_root + L"\\Tags\\Family", E_FAIL, {}},
        {"absolute, the folder itself", ratings.get(), main_root + L"\\Ratings", E_FAIL, {}},
        {"over-long", root.get(), std::wstring(40000, L'a'), E_FAIL, {}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.row);
        PIDLIST_RELATIVE list = reinterpret_cast<PIDLIST_RELATIVE>(1);
        ULONG eaten = 99, attributes = SFGAO_FOLDER;
        std::wstring text = row.text;
        const HRESULT hr = row.folder->ParseDisplayName(nullptr, nullptr, text.data(), &eaten, &list, &attributes);
        EXPECT_EQ(hex(hr), hex(row.expected));
        EXPECT_EQ(attributes, 0u);
        EXPECT_EQ(eaten, SUCCEEDED(hr) ? text.size() : 0u);
        unique_relative_id_list owned(SUCCEEDED(hr) ? list : nullptr);
        if (FAILED(hr))
        {
            EXPECT_EQ(list, nullptr);
            continue;
        }
        // The items of the list, named by the folder each one lies in.
        std::vector<std::wstring> names;
        com_ptr<IShellFolder> place(row.folder);
        for (auto item = static_cast<PCUIDLIST_RELATIVE>(list); item->mkid.cb != 0; item = ILNext(item))
        {
            const unique_child_id child(static_cast<PITEMID_CHILD>(ILCloneFirst(item)));
            names.push_back(display_name(place.get(), child.get(), SHGDN_NORMAL));
            com_ptr<IShellFolder> next;
            place->BindToObject(reinterpret_cast<PCUIDLIST_RELATIVE>(child.get()), nullptr, IID_IShellFolder, next.put_void());
            place = next;
        }
        EXPECT_EQ(names, row.items);
    }
    PIDLIST_RELATIVE list = nullptr;
    EXPECT_EQ(root->ParseDisplayName(nullptr, nullptr, nullptr, nullptr, &list, nullptr), E_INVALIDARG);
    wchar_t name[] = L"Ratings";
    EXPECT_EQ(root->ParseDisplayName(nullptr, nullptr, name, nullptr, nullptr, nullptr), E_INVALIDARG);
}

TEST_F(folder_tree, parsing_names_of_the_quick_pins_tree_walks_groups_to_nine_levels)
{
    // Ten nested groups: Level 1 ... Level 10, each holding the next.
    std::wstring relative = L"Levels";
    const auto first = folder(relative);
    for (int level = 1; level <= 10; ++level)
        folder(relative += L"\\Level " + std::to_wstring(level));
    const auto target = file(L"target.txt");
    ASSERT_TRUE(write_shortcut(first + L"\\Note.lnk", target));
    quick_pins_test::publish_groups({{u"Levels", quick_pins_test::u16(first)}, {u"Other", quick_pins_test::u16(folder(L"Other"))}});
    const auto root = make_root(true);
    // Asked for folders only, a group lists its sub-groups, not its pins to files.
    const auto levels = bind(root.get(), L"Levels");
    ASSERT_TRUE(levels);
    EXPECT_EQ(display_names(levels.get(), enumerate(levels.get(), SHCONTF_FOLDERS)), std::vector<std::wstring>{L"Level 1"});

    std::wstring nine = L"levels";
    for (int level = 1; level <= 8; ++level)
        nine += L"\\level " + std::to_wstring(level);
    const struct
    {
        const char* row;
        std::wstring text;
        HRESULT expected;
        std::size_t items;
    } rows[] = {
        {"group", L"LEVELS", S_OK, 1},
        {"pin in a group", L"Levels\\note", S_OK, 2},
        {"absolute", quick_pins_root + L"\\Levels\\Level 1", S_OK, 2},
        {"nine names", nine, S_OK, 9},
        {"ten names", nine + L"\\Level 9", E_FAIL, 0},
        {"through a pin", L"Levels\\Note\\x", E_FAIL, 0},
        {"unknown", L"Levels\\Nope", E_FAIL, 0},
        {"main root", main_root + L"\\Levels", E_FAIL, 0},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.row);
        PIDLIST_RELATIVE list = nullptr;
        std::wstring text = row.text;
        EXPECT_EQ(hex(root->ParseDisplayName(nullptr, nullptr, text.data(), nullptr, &list, nullptr)), hex(row.expected));
        unique_relative_id_list owned(list);
        std::size_t count = 0;
        for (auto item = static_cast<PCUIDLIST_RELATIVE>(list); item && item->mkid.cb != 0; item = ILNext(item))
            ++count;
        EXPECT_EQ(count, row.items);
    }
}
} // namespace
