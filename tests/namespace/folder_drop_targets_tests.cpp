// The drop targets of a folder's own open view (CreateViewObject), as Explorer reaches them.

#include "folder_test_support.h"

#include "quick_pins/store_fixture.h"
#include "support/drop_sources.h"

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

// A group's open view, and the Quick pins root's view while it shows a single group, pin what is dropped;
// the main tree's views take no drops. The targets GetUIObjectOf makes for items: the group item's drop
// in the demo's check, the organised items' in search_folder_file_drop_target_tests.
TEST_F(folder_drop_targets, group_views_pin_what_is_dropped)
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
    view_drop_target(make_root(false).get(), E_NOINTERFACE);
}
} // namespace
