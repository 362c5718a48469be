// Dropping files onto a quick pins group: real data objects from the file-system folder in, shortcut
// files, log lines and the shell's change notification out.

#include "quick_pins/quick_pins_drop_target.h"

#include "store_fixture.h"

#include "base/namespace_module.h"
#include "base/raii.h"
#include "support/drop_sources.h"
#include "support/shell_observers.h"

using namespace quick_pins_test;

namespace
{
using test_support::fixed_data_object;

constexpr DWORD key_states[] = {0, MK_LBUTTON, MK_RBUTTON, MK_SHIFT, MK_CONTROL, MK_CONTROL | MK_SHIFT, MK_ALT,
                                MK_LBUTTON | MK_CONTROL | MK_SHIFT | MK_ALT};

com_ptr<IDropTarget> drop_target(const std::wstring& group, PCIDLIST_ABSOLUTE group_id_list)
{
    com_ptr<IDropTarget> target;
    EXPECT_EQ(hresult_bits(create_quick_pins_drop_target(group, group_id_list, IID_IDropTarget, target.put_void())),
              hresult_bits(S_OK));
    return target;
}

unique_absolute_id_list id_list(const std::wstring& folder)
{
    unique_absolute_id_list list;
    EXPECT_EQ(hresult_bits(SHParseDisplayName(folder.c_str(), nullptr, list.put(), 0, nullptr)), hresult_bits(S_OK));
    return list;
}

HRESULT drop(IDropTarget* target, IDataObject* data, DWORD keys = 0)
{
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    const HRESULT result = target->Drop(data, keys, {}, &effect);
    EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_LINK));
    return result;
}

class quick_pins_drop : public store_test
{
protected:
    void TearDown() override
    {
        EXPECT_EQ(the_module().lock_count(), locks_before_) << "a drop target is still alive";
        store_test::TearDown();
    }

    // Files in the scratch folder's "files" sub-folder, made on the way.
    std::vector<std::filesystem::path> files(const std::vector<std::wstring>& names)
    {
        std::vector<std::filesystem::path> made;
        for (const auto& name : names)
        {
            made.push_back(scratch(L"files\\" + name));
            make_file(made.back());
        }
        return made;
    }
    std::wstring info_pinned(std::size_t count) const
    {
        return L"INFO [quick-pins] Pinned " + std::to_wstring(count) + L" item(s) to '" + group() + L"'";
    }

    LONG locks_before_ = the_module().lock_count();
};

TEST_F(quick_pins_drop, always_offers_a_link_whatever_is_dragged_and_whatever_keys_are_held)
{
    const auto file_data = test_support::file_data_object(files({L"a.txt"}));
    ASSERT_TRUE(file_data);
    const auto text = fixed_data_object::text(L"https://example.org/");
    const auto target = drop_target(group(), nullptr);
    for (const DWORD keys : key_states)
    {
        SCOPED_TRACE(keys);
        for (IDataObject* data : {file_data.get(), text.get(), static_cast<IDataObject*>(nullptr)})
        {
            DWORD enter = DROPEFFECT_MOVE, over = DROPEFFECT_COPY;
            EXPECT_EQ(hresult_bits(target->DragEnter(data, keys, {}, &enter)), hresult_bits(S_OK));
            EXPECT_EQ(hresult_bits(target->DragOver(keys, {}, &over)), hresult_bits(S_OK));
            EXPECT_EQ(std::vector<DWORD>({enter, over}), std::vector<DWORD>(2, DROPEFFECT_LINK));
        }
        // Text from a browser, or a file list without files: nothing happens, quietly.
        EXPECT_EQ(hresult_bits(drop(target.get(), text.get(), keys)), hresult_bits(S_OK));
        EXPECT_EQ(hresult_bits(drop(target.get(), fixed_data_object::file_list({}).get(), keys)), hresult_bits(S_OK));
    }
    EXPECT_FALSE(std::filesystem::exists(group()));
    EXPECT_EQ(hresult_bits(target->DragEnter(file_data.get(), 0, {}, nullptr)), hresult_bits(E_POINTER));
    EXPECT_EQ(hresult_bits(target->DragOver(0, {}, nullptr)), hresult_bits(E_POINTER));
    EXPECT_EQ(hresult_bits(target->DragLeave()), hresult_bits(S_OK));
    EXPECT_EQ(hresult_bits(drop(target.get(), nullptr)), hresult_bits(E_INVALIDARG));
    EXPECT_EQ(hresult_bits(target->Drop(nullptr, 0, {}, nullptr)), hresult_bits(E_INVALIDARG));
    com_ptr<IDataObject> none;
    EXPECT_EQ(hresult_bits(create_quick_pins_drop_target(group(), nullptr, IID_IDataObject, none.put_void())),
              hresult_bits(E_NOINTERFACE));
}

TEST_F(quick_pins_drop, pins_the_new_files_and_refreshes_the_group_once)
{
    std::filesystem::create_directories(group());
    const auto group_list = id_list(group());
    test_support::change_recorder changes(group_list.get());
    ASSERT_TRUE(changes.registered());
    const auto dropped = files({L"a.txt", L"b.txt", L"c.txt"});
    ASSERT_EQ(pin_items(group(), {dropped[1].wstring()}), std::optional<std::size_t>(1));
    const auto data = test_support::file_data_object(dropped);
    ASSERT_TRUE(data);
    const auto target = drop_target(group(), group_list.get());

    test_support::log_capture log;
    // Shift and Ctrl would move or copy elsewhere; here they still make shortcuts.
    EXPECT_EQ(hresult_bits(drop(target.get(), data.get(), MK_SHIFT | MK_CONTROL)), hresult_bits(S_OK));
    EXPECT_EQ(folder_contents(group()), (wstrings{L"a.txt.lnk", L"b.txt.lnk", L"c.txt.lnk"}));
    EXPECT_EQ(read_link_raw_path(group() + L"\\c.txt.lnk"), dropped[2].wstring());
    changes.pump(std::chrono::milliseconds(1'000));
    EXPECT_EQ(changes.count(SHCNE_UPDATEDIR, group_list.get()), 1);
    changes.clear();
    for (const auto& file : dropped)
        EXPECT_TRUE(std::filesystem::exists(file)) << "the dropped files stay where they are";

    // All pinned already: a count of 0 and no notification.
    EXPECT_EQ(hresult_bits(drop(target.get(), data.get())), hresult_bits(S_OK));
    changes.pump(std::chrono::milliseconds(500));
    EXPECT_EQ(changes.count(SHCNE_UPDATEDIR), 0);
    EXPECT_EQ(folder_contents(group()).size(), 3u);
    EXPECT_EQ(log.messages(), (strings{to_utf8(info_pinned(2)), to_utf8(info_pinned(0))}));
}

TEST_F(quick_pins_drop, refuses_what_it_cannot_pin_and_says_how_many_names_it_got)
{
    const auto data = test_support::file_data_object(files({L"a.txt", L"b.txt", L"c.txt"}));
    ASSERT_TRUE(data);
    // A file where the group folder should be: the store cannot make the folder.
    const std::wstring blocked = scratch(L"blocked");
    make_file(blocked);

    const struct { const char* name; std::wstring group; strings messages; } rows[] = {
        {"no group folder", L"", {"ERROR Quick pins drop: could not pin 3 item(s) into "}},
        // libstdc++ reports the C runtime's errno: ENOTDIR (20).
        {"the store fails", blocked + L"\\Group",
         {"ERROR [quick-pins] Could not create '" + to_utf8(blocked) + "\\Group': 20",
          "ERROR Quick pins drop: could not pin 3 item(s) into " + to_utf8(blocked) + "\\Group"}},
    };
    for (const auto& [name, group_folder, messages] : rows)
    {
        SCOPED_TRACE(name);
        test_support::log_capture log;
        EXPECT_EQ(hresult_bits(drop(drop_target(group_folder, nullptr).get(), data.get())), hresult_bits(E_FAIL));
        EXPECT_EQ(log.messages(), messages);
    }
}

TEST_F(quick_pins_drop, a_path_too_long_for_the_drop_is_left_out_with_a_warning)
{
    const auto kept = files({L"kept.txt"}).front().wstring();
    const std::wstring long_path = scratch(L"files\\") + std::wstring(600, L'x') + L".txt";
    test_support::log_capture log;
    EXPECT_EQ(hresult_bits(drop(drop_target(group(), nullptr).get(), fixed_data_object::file_list({long_path, kept}).get())),
              hresult_bits(S_OK));
    EXPECT_EQ(folder_contents(group()), wstrings{L"kept.txt.lnk"});
    EXPECT_EQ(log.messages(), (strings{"WARNING Drop: left out a dropped path of " + std::to_string(long_path.size()) +
                                           " characters (at most 519 fit): " + to_utf8(long_path.substr(0, 519)),
                                       to_utf8(info_pinned(1))}));
}

} // namespace
