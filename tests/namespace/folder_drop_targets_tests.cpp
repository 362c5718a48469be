// The drop targets as Explorer reaches them through a folder: GetUIObjectOf for an item of the folder,
// CreateViewObject for the folder's own open view.

#include "folder_test_support.h"

#include "quick_pins/store_fixture.h"
#include "support/drop_sources.h"
#include "support/shell_observers.h"

#include <algorithm>

namespace
{
using namespace folder_test;

class folder_drop_targets : public folder_fixture
{
protected:
    void SetUp() override
    {
        folder_fixture::SetUp();
        quick_pins_test::remove_tree(quick_pins_test::published_folder());
    }
    void TearDown() override
    {
        quick_pins_test::remove_tree(quick_pins_test::published_folder());
        folder_fixture::TearDown();
    }

    std::wstring folder(const std::wstring& name)
    {
        std::filesystem::create_directories(scratch_.path() / name);
        return (scratch_.path() / name).wstring();
    }
    // Drops a new file of that name onto `target`; answers the drop's result.
    HRESULT drop_new_file(IDropTarget* target, const std::wstring& name)
    {
        const auto file = scratch_.path() / L"files" / name;
        test_support::write_file(file, "x");
        const auto data = test_support::file_data_object({file});
        DWORD effect = DROPEFFECT_COPY;
        return data ? target->Drop(data.get(), 0, {}, &effect) : E_UNEXPECTED;
    }

    test_support::scratch_folder scratch_{L"folder drops"};
};

com_ptr<IDropTarget> view_drop_target(IShellFolder* folder, HRESULT expected)
{
    com_ptr<IDropTarget> target;
    EXPECT_EQ(hex(folder->CreateViewObject(nullptr, IID_IDropTarget, target.put_void())), hex(expected));
    EXPECT_EQ(static_cast<bool>(target), SUCCEEDED(expected));
    return target;
}

com_ptr<IDropTarget> item_drop_target(IShellFolder* folder, PCUITEMID_CHILD item)
{
    com_ptr<IDropTarget> target;
    EXPECT_EQ(hex(folder->GetUIObjectOf(nullptr, 1, &item, IID_IDropTarget, nullptr, target.put_void())), hex(S_OK));
    return target;
}

TEST_F(folder_drop_targets, a_group_item_pins_into_its_folder_and_refreshes_the_group_under_the_root)
{
    const auto reports = folder(L"Reports"), inbox = folder(L"Inbox");
    quick_pins_test::publish_groups({{u"Reports", quick_pins_test::u16(reports)}, {u"Inbox", quick_pins_test::u16(inbox)}});
    const auto root_list = root_id_list(CLSID_quick_pins_shell_folder);
    const auto root = make_folder(true, root_list.get());
    const auto groups = enumerate(root.get());
    const auto* item = find_item(root.get(), groups, L"Inbox");
    ASSERT_TRUE(item);
    test_support::change_recorder changes(root_list.get());
    ASSERT_TRUE(changes.registered());
    if (const auto target = item_drop_target(root.get(), item))
    {
        EXPECT_EQ(hex(drop_new_file(target.get(), L"onto the item.txt")), hex(S_OK));
    }
    EXPECT_EQ(quick_pins_test::folder_contents(inbox), std::vector<std::wstring>{L"onto the item.txt.lnk"});
    changes.pump(std::chrono::milliseconds(500));
    // One refresh below the Quick pins root. Wine's ILIsEqual finds not even two copies of a list of our
    // identifiers equal, so the group's list is not compared here; the drop target's own tests compare
    // the list of a real folder.
    EXPECT_EQ(changes.count(SHCNE_UPDATEDIR), 1);
}

TEST_F(folder_drop_targets, organised_searches_take_drops_and_organised_folders_refuse_them)
{
    const auto root = make_root(false);
    const auto folders = enumerate(root.get());
    ASSERT_FALSE(folders.empty());
    const auto organised = folder_test::bind(root.get(), display_name(root.get(), folders.front().get(), SHGDN_NORMAL));
    ASSERT_TRUE(organised);
    const auto searches = enumerate(organised.get());
    const auto search = std::find_if(searches.begin(), searches.end(), [](const unique_child_id& item) {
        return own_item_data(item.get())->kind == static_cast<std::uint8_t>(item_kind::organized_search);
    });
    ASSERT_NE(search, searches.end()) << "the default configuration's first folder holds no saved search";

    const auto text = test_support::fixed_data_object::text(L"text");
    DWORD effect = DROPEFFECT_COPY;
    if (const auto target = item_drop_target(root.get(), folders.front().get()))
    {
        EXPECT_EQ(hex(target->DragEnter(text.get(), 0, {}, &effect)), hex(E_FAIL));
    }
    if (const auto target = item_drop_target(organised.get(), search->get()))
    {
        EXPECT_EQ(hex(target->DragEnter(text.get(), 0, {}, &effect)), hex(S_OK));
        EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_LINK));
    }
}

TEST_F(folder_drop_targets, a_group_view_and_the_view_of_a_quick_pins_root_with_one_group_pin_what_is_dropped)
{
    const auto reports = folder(L"Reports"), inbox = folder(L"Inbox");
    quick_pins_test::publish_groups({{u"Reports", quick_pins_test::u16(reports)}, {u"Inbox", quick_pins_test::u16(inbox)}});
    const auto root = make_root(true);
    // Two groups: the root's own view has no single group to pin into.
    view_drop_target(root.get(), E_NOINTERFACE);
    const auto group = folder_test::bind(root.get(), L"Inbox");
    ASSERT_TRUE(group);
    if (const auto target = view_drop_target(group.get(), S_OK))
    {
        EXPECT_EQ(hex(drop_new_file(target.get(), L"into the group.txt")), hex(S_OK));
    }

    quick_pins_test::publish_groups({{u"Reports", quick_pins_test::u16(reports)}});
    if (const auto target = view_drop_target(root.get(), S_OK))
    {
        EXPECT_EQ(hex(drop_new_file(target.get(), L"into the root.txt")), hex(S_OK));
    }
    EXPECT_EQ(quick_pins_test::folder_contents(inbox), std::vector<std::wstring>{L"into the group.txt.lnk"});
    EXPECT_EQ(quick_pins_test::folder_contents(reports), std::vector<std::wstring>{L"into the root.txt.lnk"});
    // The main tree's views take no drops.
    view_drop_target(make_root(false).get(), E_NOINTERFACE);
}
} // namespace
