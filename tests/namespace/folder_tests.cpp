// The folder object called directly: its identity, the main tree's root and organised folders from
// the configuration, the enumerator's contract, display names and attributes of every kind.

#include "folder_test_support.h"

#include "quick_pins/shell_link.h"

#include <array>

namespace
{
using namespace folder_test;

using folder = folder_fixture;

TEST_F(folder, answers_its_interfaces_class_id_pane_state_and_current_folder)
{
    for (const bool quick_pins : {false, true})
    {
        SCOPED_TRACE(quick_pins);
        com_ptr<search_and_action_shell_folder> object;
        ASSERT_EQ(search_and_action_shell_folder::create_folder(quick_pins, object.put()), S_OK);
        for (const IID* iid : {&IID_IUnknown, &IID_IShellFolder, &IID_IShellFolder2, &IID_IPersist, &IID_IPersistFolder,
                               &IID_IPersistFolder2, &IID_IShellExtInit, &IID_IContextMenu, &IID_IExplorerPaneVisibility})
        {
            com_ptr<IUnknown> answer;
            EXPECT_EQ(object->QueryInterface(*iid, answer.put_void()), S_OK);
        }
        CLSID clsid{};
        EXPECT_EQ(object->GetClassID(&clsid), S_OK);
        EXPECT_TRUE(IsEqualCLSID(clsid, quick_pins ? CLSID_quick_pins_shell_folder : CLSID_search_and_action_shell_folder));
        EXPECT_EQ(object->GetClassID(nullptr), E_POINTER);

        // The preview pane, forced or not, is off; the details pane is left to Explorer.
        constexpr GUID forced_pane = {0xd27524a8, 0xc9f2, 0x4834, {0xa1, 0x06, 0xdf, 0x88, 0x89, 0xfd, 0x4f, 0x37}};
        constexpr GUID preview_pane = {0x893c63d1, 0x45c8, 0x4d17, {0xbe, 0x19, 0x22, 0x3b, 0xe7, 0x1b, 0xe3, 0x65}};
        constexpr GUID details_pane = {0x43abf98b, 0x89b8, 0x472d, {0xb9, 0xce, 0xe6, 0x9b, 0x82, 0x29, 0xf0, 0x19}};
        for (const auto& [pane, expected] : {std::pair{&forced_pane, 0x20001u}, {&preview_pane, 0x20001u}, {&details_pane, 0u}})
        {
            EXPLORERPANESTATE state = 7;
            EXPECT_EQ(object->GetPaneState(*pane, &state), S_OK);
            EXPECT_EQ(state, expected);
        }
        EXPECT_EQ(object->GetPaneState(preview_pane, nullptr), E_POINTER);

        PIDLIST_ABSOLUTE current = reinterpret_cast<PIDLIST_ABSOLUTE>(1);
        EXPECT_EQ(hex(object->GetCurFolder(&current)), hex(E_OUTOFMEMORY)) << "before Initialize";
        EXPECT_EQ(current, nullptr);
        EXPECT_EQ(object->GetCurFolder(nullptr), E_POINTER);
        EXPECT_EQ(hex(object->Initialize(nullptr)), hex(E_INVALIDARG));

        const auto root = root_id_list(clsid);
        ASSERT_EQ(object->Initialize(root.get()), S_OK);
        ASSERT_EQ(object->GetCurFolder(&current), S_OK);
        unique_absolute_id_list owned(current);
        EXPECT_TRUE(ILIsEqual(current, root.get()));
        EXPECT_NE(current, root.get()) << "a copy";
        EXPECT_TRUE(object->names().empty());
        EXPECT_TRUE(object->desktop_folder());
    }
}

// The roots and organised folders hold folders only: asked for anything else, they give no enumerator.
TEST_F(folder, lists_nothing_without_folders)
{
    const auto root = make_root(false);
    const auto ratings = bind(root.get(), L"Ratings");
    ASSERT_TRUE(ratings);
    const auto pins_root = make_root(true);
    for (IShellFolder* place : {static_cast<IShellFolder*>(root.get()), ratings.get(), static_cast<IShellFolder*>(pins_root.get())})
    {
        IEnumIDList* enumerator = reinterpret_cast<IEnumIDList*>(1);
        EXPECT_EQ(place->EnumObjects(nullptr, SHCONTF_NONFOLDERS, &enumerator), S_OK);
        EXPECT_EQ(enumerator, nullptr);
        EXPECT_EQ(place->EnumObjects(nullptr, SHCONTF_FOLDERS, nullptr), E_POINTER);
    }
    EXPECT_EQ(log_->messages(), std::vector<std::string>{});
}

TEST_F(folder, hides_switched_off_folders_and_searches_and_fails_for_a_place_that_is_gone)
{
    write_namespace(R"({"folders": [
        {"name": "Shown", "queries": [{"name": "On", "query": "a"}, {"name": "Off", "query": "b", "enabled": false},
                                      {"name": "$tags[6].name", "query": "c"}, {"name": "$tags[5].name", "query": "d"}]},
        {"name": "Switched off", "enabled": false, "queries": []},
        {"name": "Report: Q1/Q2", "queries": [{"name": "Sales: A/B", "query": ""}]}]})");
    const auto root = make_root(false);
    const auto folders = enumerate(root.get());
    EXPECT_EQ(display_names(root.get(), folders), (std::vector<std::wstring>{L"Shown", L"Report: Q1/Q2"}));

    const auto shown = bind(root.get(), L"Shown");
    ASSERT_TRUE(shown);
    const auto searches = enumerate(shown.get());
    EXPECT_EQ(display_names(shown.get(), searches), (std::vector<std::wstring>{L"On", L"To sort"}));
    const auto report = bind(root.get(), L"Report: Q1/Q2");
    ASSERT_TRUE(report);
    EXPECT_EQ(display_names(report.get(), enumerate(report.get())), std::vector<std::wstring>{L"Sales: A/B"});

    // The configuration changes while Explorer holds the folder's list: the name no longer matches
    // exactly, and the folder cannot be listed.
    write_namespace(R"({"folders": [{"name": "SHOWN", "queries": [{"name": "On", "query": "a"}]}]})");
    const test_support::log_capture log;
    IEnumIDList* enumerator = reinterpret_cast<IEnumIDList*>(1);
    EXPECT_EQ(hex(shown->EnumObjects(nullptr, SHCONTF_FOLDERS, &enumerator)), hex(E_FAIL));
    EXPECT_EQ(enumerator, nullptr);
    EXPECT_EQ(log.messages(), std::vector<std::string>{"ERROR Failed to complete folder enumeration 0x80004005"});
}

// Next, Reset and Skip on the rows of a running search: folder_shell_tests.
TEST_F(folder, enumerator_skips_without_bounds_and_refuses_what_it_cannot_do)
{
    const auto root = make_root(false);
    com_ptr<IEnumIDList> enumerator;
    ASSERT_EQ(root->EnumObjects(nullptr, SHCONTF_FOLDERS, enumerator.put()), S_OK);
    std::array<PITEMID_CHILD, 5> items{};
    ULONG fetched = 99;
    EXPECT_EQ(enumerator->Next(5, items.data(), &fetched), S_FALSE);
    ASSERT_EQ(fetched, 4u);
    EXPECT_EQ(display_name(root.get(), items[3], SHGDN_NORMAL), L"Recent files");
    EXPECT_EQ(enumerator->Reset(), S_OK);
    EXPECT_EQ(enumerator->Skip(5), S_OK);
    EXPECT_EQ(enumerator->Next(1, items.data() + 4, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(enumerator->Next(1, nullptr, &fetched), E_POINTER);
    com_ptr<IEnumIDList> clone;
    EXPECT_EQ(enumerator->Clone(clone.put()), E_NOTIMPL);
    for (std::size_t i = 0; i < 4; ++i)
        ILFree(items[i]);
}

// Rows: kind, flags, expected HRESULT, expected text (the item's fields are those of `make`).
TEST_F(folder, display_names_follow_the_kind_and_the_flags)
{
    test_support::scratch_folder scratch(L"folder-names");
    const auto file = (scratch.path() / L"photo.jpg").wstring();
    test_support::write_file(file, "x");
    const auto folder_item = create_folder_item({.name = L"Report: Q1/Q2"});
    const auto search_item = create_search_item({.name = L"Ratings"}, {.name = L"A/B"}, {}, {});
    const auto result_item = create_result_item(file, {}, {});
    const auto pin_item = create_pin_item_from_parts(file, L"Holiday", L"C:\\Pins\\Holiday.lnk");
    const auto group_item = create_group_item_from_parts(scratch.path().wstring(), L"Work");
    auto root_item = create_empty_result_item();
    own_item_data(root_item.get())->kind = 0;

    const auto root = make_root(true);
    const auto group_folder_list = combine(root_id_list(CLSID_quick_pins_shell_folder).get(),
                                           reinterpret_cast<PCUIDLIST_RELATIVE>(create_group_item_from_parts(L"C:\\G", L"Outer").get()));
    const auto inner = make_folder(true, group_folder_list.get());
    ASSERT_EQ(inner->names(), std::vector<std::wstring>{L"Outer"});
    EXPECT_EQ(inner->group_path(), L"C:\\G");

    constexpr SHGDNF parsing = SHGDN_FORPARSING, in_folder = SHGDN_INFOLDER, address = SHGDN_FORADDRESSBAR;
    const std::wstring search_path = main_root + L"\\Ratings\\A/B";
    const struct
    {
        const char* row;
        const unique_child_id& item;
        SHGDNF flags;
        HRESULT expected;
        std::wstring text;
    } rows[] = {
        {"root, normal", root_item, SHGDN_NORMAL, E_FAIL, L""},
        {"root, parsing", root_item, parsing, S_OK, quick_pins_root},
        {"folder, normal", folder_item, SHGDN_NORMAL, S_OK, L"Report: Q1/Q2"},
        {"folder, parsing in folder", folder_item, parsing | in_folder, S_OK, L"Report: Q1/Q2"},
        {"folder, parsing", folder_item, parsing, S_OK, main_root + L"\\Report: Q1/Q2"},
        {"folder, address bar", folder_item, address, S_OK, L"Report: Q1/Q2"},
        {"search, normal", search_item, SHGDN_NORMAL, S_OK, L"A/B"},
        {"search, address bar", search_item, address, S_OK, search_path},
        {"search, address bar in folder", search_item, address | in_folder, S_OK, L"A/B"},
        {"search, parsing in folder", search_item, parsing | in_folder, S_OK, search_path},
        {"result, normal", result_item, SHGDN_NORMAL, S_OK, L"photo.jpg"},
        {"pin, parsing", pin_item, parsing, S_OK, file},
        {"group, normal", group_item, SHGDN_NORMAL, S_OK, L"Work"},
        {"group, address bar", group_item, address, S_OK, quick_pins_root + L"\\Outer\\Work"},
        {"group, address bar in folder", group_item, address | in_folder, S_OK, L"Work"},
        {"group, parsing in folder", group_item, parsing | in_folder, S_OK, L"Work"},
        {"group, parsing", group_item, parsing, S_OK, quick_pins_root + L"\\Outer\\Work"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.row);
        HRESULT hr = S_OK;
        EXPECT_EQ(display_name(inner.get(), row.item.get(), row.flags, &hr), row.text);
        EXPECT_EQ(hex(hr), hex(row.expected));
    }
    STRRET name{};
    EXPECT_EQ(inner->GetDisplayNameOf(folder_item.get(), SHGDN_NORMAL, nullptr), E_INVALIDARG);
    EXPECT_EQ(inner->GetDisplayNameOf(nullptr, SHGDN_NORMAL, &name), E_INVALIDARG);
    // At the main root a root item names the main root.
    EXPECT_EQ(display_name(make_root(false).get(), root_item.get(), parsing), main_root);
}

TEST_F(folder, attributes_of_virtual_items_are_fixed_and_real_items_are_the_real_folders_adjusted)
{
    test_support::scratch_folder scratch(L"folder-attributes");
    const auto file = (scratch.path() / L"photo.jpg").wstring();
    test_support::write_file(file, "x");
    const auto group_with_folder = (scratch.path() / L"With folder").wstring();
    const auto group_without = (scratch.path() / L"Without").wstring();
    std::filesystem::create_directories(std::filesystem::path(group_with_folder) / L"Sub");
    std::filesystem::create_directories(group_without);
    ASSERT_TRUE(write_shortcut(group_without + L"\\photo.jpg.lnk", file));

    const auto root = make_root(false);
    constexpr SFGAOF everything = 0xFFFFFFFF;
    const auto attributes = [&](const unique_child_id& item, SFGAOF requested, HRESULT* hr = nullptr) {
        PCUITEMID_CHILD children[] = {item.get(), nullptr};
        SFGAOF value = requested;
        const HRESULT result = root->GetAttributesOf(1, children, &value);
        if (hr)
            *hr = result;
        else
            EXPECT_EQ(hex(result), hex(S_OK));
        return value;
    };

    // The first item stands for the selection.
    const auto folder_item = create_folder_item({.name = L"A"});
    const auto result_item = create_result_item(file, {}, {});
    PCUITEMID_CHILD selection[] = {folder_item.get(), result_item.get()};
    SFGAOF value = everything;
    EXPECT_EQ(root->GetAttributesOf(2, selection, &value), S_OK);
    EXPECT_EQ(value, 0xB8000004u);
    EXPECT_EQ(attributes(create_search_item({.name = L"A"}, {.name = L"B"}, {}, {}), everything), 0x38000004u);

    // What the real folder says, less what belongs to the shortcut and not to its target.
    const SFGAOF real = attributes(result_item, everything);
    EXPECT_EQ(real & SFGAO_FILESYSTEM, SFGAOF{SFGAO_FILESYSTEM});
    const auto pin = attributes(create_pin_item_from_parts(file, L"P", group_without + L"\\photo.jpg.lnk"), everything);
    EXPECT_EQ(pin, real & 0x7FFFFFCD);
    EXPECT_EQ(pin & (SFGAO_CANRENAME | SFGAO_CANDELETE | SFGAO_CANMOVE), 0u);

    // A group is our folder: browsable, never a file-system item; it has sub-folders exactly when one
    // of its entries is a folder.
    const auto with = attributes(create_group_item_from_parts(group_with_folder, L"G"), everything);
    const auto without = attributes(create_group_item_from_parts(group_without, L"G"), everything);
    for (const auto group : {with, without})
    {
        EXPECT_EQ(group & (SFGAO_FOLDER | SFGAO_FILESYSANCESTOR | SFGAO_BROWSABLE),
                  SFGAOF{SFGAO_FOLDER | SFGAO_FILESYSANCESTOR | SFGAO_BROWSABLE});
        EXPECT_EQ(group & (SFGAO_FILESYSTEM | SFGAO_STREAM), 0u);
    }
    EXPECT_EQ(with & SFGAO_HASSUBFOLDER, SFGAOF{SFGAO_HASSUBFOLDER});
    EXPECT_EQ(without & SFGAO_HASSUBFOLDER, 0u);

    // A result whose file is gone: the parse's failure, logged.
    const test_support::log_capture log;
    HRESULT hr = S_OK;
    auto missing = create_empty_result_item();
    const std::wstring missing_path = (scratch.path() / L"never there.txt").wstring();
    std::memcpy(own_item_data(missing.get())->path, missing_path.c_str(), (missing_path.size() + 1) * sizeof(wchar_t));
    attributes(missing, everything, &hr);
    PIDLIST_ABSOLUTE parsed = nullptr;
    const HRESULT parse = SHParseDisplayName(missing_path.c_str(), nullptr, &parsed, 0, nullptr);
    ASSERT_TRUE(FAILED(parse));
    EXPECT_EQ(hex(hr), hex(parse));
    EXPECT_EQ(log.messages(), std::vector<std::string>{fmt::format(
                                  "WARNING GetAttributesOf: filesystem pidl parse failed with HRESULT 0x{:X}", hresult_bits(parse))});

    SFGAOF untouched = 0;
    PCUITEMID_CHILD none[] = {nullptr};
    EXPECT_EQ(root->GetAttributesOf(1, selection, nullptr), E_POINTER);
    EXPECT_EQ(root->GetAttributesOf(0, selection, &untouched), E_INVALIDARG);
    EXPECT_EQ(root->GetAttributesOf(1, none, &untouched), E_INVALIDARG);
}
} // namespace
