// GetUIObjectOf of both roots' folders, called directly: which object answers for each kind and
// interface, the real file system's objects behind results and pins (Wine's real menus and data
// objects), the warnings and codes of every failure, and hostile item arrays.

#include "folder_test_support.h"

#include "module/dll_test_support.h"
#include "items/path_cache.h"
#include "namespace/selection_menu.h"
#include "support/shell_observers.h"

#include <algorithm>
#include <chrono>
#include <map>

namespace
{
using namespace folder_test;
using strings = std::vector<std::string>;

// The items of the menu that `object` (an IContextMenu) builds from command 1: each text with its offset.
std::map<std::wstring, UINT> menu_of(IUnknown* object)
{
    std::map<std::wstring, UINT> items;
    const auto menu = com_ptr<IUnknown>(object).try_query<IContextMenu>();
    HMENU popup = CreatePopupMenu();
    if (menu && SUCCEEDED(menu->QueryContextMenu(popup, 0, 1, 0x7FFF, CMF_NORMAL | CMF_CANRENAME)))
        for (int i = 0; i < GetMenuItemCount(popup); ++i)
        {
            wchar_t text[128] = {};
            if (GetMenuStringW(popup, i, text, static_cast<int>(std::size(text)), MF_BYPOSITION))
                items.emplace(text, GetMenuItemID(popup, i) - 1);
        }
    DestroyMenu(popup);
    return items;
}

class ui_objects : public folder_fixture
{
protected:
    void SetUp() override
    {
        folder_fixture::SetUp();
        for (const auto* name : {L"a.txt", L"b.txt"})
            test_support::write_file(scratch.path() / L"files" / name, "x");
        test_support::write_file(group() + L"\\a.txt.lnk", "not really a shortcut");
        root = make_root(false);
        root_list = root_id_list(CLSID_search_and_action_shell_folder);
        folders = enumerate(root.get());
        result_a = create_result_item(file(L"a.txt"), {}, {});
        result_b = create_result_item(file(L"b.txt"), {}, {});
        pin = create_pin_item_from_parts(file(L"a.txt"), L"a.txt", group() + L"\\a.txt.lnk");
        group_item = create_group_item_from_parts(group(), L"Group");
        ASSERT_TRUE(result_a && result_b && pin && group_item && !folders.empty());
    }
    void TearDown() override
    {
        object.reset();
        root.reset();
        folder_fixture::TearDown();
    }

    std::wstring file(const wchar_t* name) const { return (scratch.path() / L"files" / name).wstring(); }
    std::wstring group() const { return (scratch.path() / L"Group").wstring(); }

    // GetUIObjectOf for these items; the object is kept in `object`.
    HRESULT ask(std::vector<PCUITEMID_CHILD> items, REFIID riid, IShellFolder* folder = nullptr)
    {
        object.reset();
        void* out = reinterpret_cast<void*>(1);
        const HRESULT hr = (folder ? folder : root.get())
                               ->GetUIObjectOf(nullptr, static_cast<UINT>(items.size()), items.data(), riid, nullptr, &out);
        EXPECT_EQ(out != nullptr, SUCCEEDED(hr)) << "out on " << hex(hr);
        if (SUCCEEDED(hr))
            object = com_ptr<IUnknown>::attach(static_cast<IUnknown*>(out));
        return hr;
    }

    test_support::scratch_folder scratch{L"ui-objects"};
    com_ptr<search_and_action_shell_folder> root;
    unique_absolute_id_list root_list;
    std::vector<unique_child_id> folders;
    unique_child_id result_a, result_b, pin, group_item;
    com_ptr<IUnknown> object;
};

TEST_F(ui_objects, refuses_hostile_requests_and_identifiers)
{
    // A real file system child (not ours) and one of ours that is no file, in a selection (alone:
    // hostile_identifiers).
    unique_absolute_id_list foreign;
    ASSERT_EQ(SHParseDisplayName(file(L"a.txt").c_str(), nullptr, foreign.put(), 0, nullptr), S_OK);
    const auto* foreign_child = reinterpret_cast<PCUITEMID_CHILD>(ILFindLastID(foreign.get()));
    auto root_item = create_result_item(file(L"a.txt"), {}, {});
    own_item_data(root_item.get())->kind = 0;

    const strings unresolved = {"WARNING GetUIObjectOf: multi-select resolution failed 0x80070057"};
    const struct
    {
        const char* name;
        std::vector<PCUITEMID_CHILD> items;
        const IID* iid;
        strings log;
    } rows[] = {
        {"no items", {}, &IID_IContextMenu, {}},
        {"a null item", {nullptr}, &IID_IContextMenu, {}},
        {"a result and an organised folder", {result_a.get(), folders[0].get()}, &IID_IContextMenu, unresolved},
        {"a result and a foreign item", {result_a.get(), foreign_child}, &IID_IDataObject, unresolved},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        test_support::log_capture log;
        EXPECT_EQ(hex(ask(row.items, *row.iid)), hex(E_INVALIDARG));
        EXPECT_EQ(log.messages(), row.log);
    }
    PCUITEMID_CHILD items[] = {result_a.get()};
    EXPECT_EQ(hex(root->GetUIObjectOf(nullptr, 1, items, IID_IContextMenu, nullptr, nullptr)), hex(E_INVALIDARG));

    // The root item's menu is the folder's own.
    EXPECT_EQ(hex(ask({root_item.get()}, IID_IContextMenu)), hex(S_OK));
    com_ptr<IUnknown> identity, folder_identity;
    object->QueryInterface(IID_IUnknown, identity.put_void());
    root->QueryInterface(IID_IUnknown, folder_identity.put_void());
    EXPECT_EQ(identity.get(), folder_identity.get());
}

TEST_F(ui_objects, a_result_gets_the_real_folders_objects_with_its_menu_and_data_object_wrapped)
{
    test_support::log_capture log;
    // IContextMenu is wrapped: "Open File Location" beside the real commands.
    ASSERT_EQ(hex(ask({result_a.get()}, IID_IContextMenu)), hex(S_OK));
    EXPECT_TRUE(object.try_query<IObjectWithSite>()) << "our wrapper";
    const auto items = menu_of(object.get());
    EXPECT_TRUE(items.contains(L"Open File Location"));
    EXPECT_TRUE(items.contains(L"&Delete") && items.contains(L"&Rename")) << "a result is no pin";

    // IDataObject is wrapped too; the real one's formats pass through.
    ASSERT_EQ(hex(ask({result_a.get()}, IID_IDataObject)), hex(S_OK));
    com_ptr<IDataObject> data = object.try_query<IDataObject>();
    FORMATETC drop{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    ASSERT_EQ(hex(data->GetData(&drop, &medium)), hex(S_OK));
    wchar_t dropped[MAX_PATH] = {};
    DragQueryFileW(static_cast<HDROP>(medium.hGlobal), 0, dropped, MAX_PATH);
    EXPECT_EQ(dropped, file(L"a.txt"));
    ReleaseStgMedium(&medium);
    data.reset();

    EXPECT_EQ(hex(ask({result_a.get()}, IID_IExtractImage)), hex(E_NOTIMPL));
    // Anything else is the real folder's answer: an icon extractor, and no folder for a file (not logged).
    EXPECT_EQ(hex(ask({result_a.get()}, IID_IExtractIconW)), hex(S_OK));
    EXPECT_EQ(hex(ask({result_a.get(), folders[0].get()}, IID_IExtractIconW)), hex(S_OK)) << "first item only";
    EXPECT_EQ(hex(ask({result_a.get()}, IID_IShellFolder)), hex(E_NOINTERFACE));
    object.reset();
    EXPECT_EQ(log.messages(), strings{});
}

TEST_F(ui_objects, a_missing_file_fails_its_parse_with_its_warning)
{
    path_cache_clear();
    auto gone = create_empty_result_item();
    const std::wstring path = file(L"gone.txt");
    std::copy(path.begin(), path.end(), own_item_data(gone.get())->path);
    PIDLIST_ABSOLUTE probe = nullptr;
    const HRESULT parse = SHParseDisplayName(path.c_str(), nullptr, &probe, 0, nullptr);
    ASSERT_TRUE(FAILED(parse));
    test_support::log_capture log;
    EXPECT_EQ(hex(ask({gone.get()}, IID_IContextMenu)), hex(parse));
    EXPECT_EQ(log.messages(), strings{"WARNING GetUIObjectOf: filesystem pidl parse failed with HRESULT " + hex(parse)});
}

TEST_F(ui_objects, a_multi_selection_resolves_every_item_and_reports_what_wine_cannot_do)
{
    // Wine's IShellItemArray::BindToHandler answers E_NOTIMPL; Windows gives the real menu and data object.
    const struct
    {
        const IID* iid;
        std::string warning;
    } rows[] = {
        {&IID_IContextMenu, "WARNING GetUIObjectOf: multi-select IContextMenu BindToHandler failed 0x80004001"},
        {&IID_IDataObject, "WARNING GetUIObjectOf: multi-select IDataObject from IShellItemArray failed 0x80004001"},
    };
    for (const auto& row : rows)
    {
        test_support::log_capture log;
        EXPECT_EQ(hex(ask({result_a.get(), pin.get()}, *row.iid)), hex(E_NOTIMPL));
        EXPECT_EQ(log.messages(), strings{row.warning});
    }
    // A folder without its place in the tree has no desktop folder to make the array with.
    const auto uninitialised = make_folder(false, nullptr);
    test_support::log_capture log;
    const HRESULT hr = ask({result_a.get(), result_b.get()}, IID_IContextMenu, uninitialised.get());
    if (!uninitialised->desktop_folder())
    {
        EXPECT_EQ(hex(hr), hex(E_UNEXPECTED));
        EXPECT_EQ(log.messages(), strings{"WARNING GetUIObjectOf: multi-select SHCreateShellItemArray failed 0x8000FFFF"});
    }
}

TEST_F(ui_objects, organised_folders_and_groups_get_the_extensions_own_objects)
{
    const auto* organised = folders[0].get();
    const struct
    {
        const char* name;
        PCUITEMID_CHILD item;
        const IID* iid;
        HRESULT result;
        strings log = {};
    } rows[] = {
        // Wine's SHCreateDataObject answers E_NOTIMPL; Windows makes the shell's data object.
        {"folder data object", organised, &IID_IDataObject, E_NOTIMPL,
         {"WARNING GetUIObjectOf: SHCreateDataObject failed 0x80004001"}},
        {"folder menu 3", organised, &IID_IContextMenu3, E_NOINTERFACE},
        {"group icon", group_item.get(), &IID_IExtractIconW, S_OK},
        {"group data object", group_item.get(), &IID_IDataObject, S_OK},
        {"group info tip", group_item.get(), &IID_IQueryInfo, E_NOINTERFACE},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        test_support::log_capture log;
        EXPECT_EQ(hex(ask({row.item}, *row.iid)), hex(row.result));
        EXPECT_EQ(log.messages(), row.log);
    }
    // The folder-item menu, for an organised folder and for a saved search alike.
    const auto search = create_search_item({.name = L"Ratings"}, {.name = L"Q1", .query = L"kind:doc"}, {}, {});
    for (const PCUITEMID_CHILD item : {organised, static_cast<PCUITEMID_CHILD>(search.get())})
    {
        ASSERT_EQ(hex(ask({item}, IID_IContextMenu)), hex(S_OK));
        EXPECT_EQ(menu_of(object.get()),
                  (std::map<std::wstring, UINT>{{L"Open", 0}, {L"Create s&hortcut", 1}, {L"Customize Sortwell", 2}}));
    }
    object.reset();

    // Before Initialize a folder has no list for the data object of its items.
    const auto uninitialised = make_folder(false, nullptr);
    test_support::log_capture log;
    EXPECT_EQ(hex(ask({organised}, IID_IDataObject, uninitialised.get())), hex(E_UNEXPECTED));
    EXPECT_EQ(log.messages(), strings{"WARNING GetUIObjectOf: IDataObject requested before folder pidl was initialized"});
}

// The folder hands a group's folder to its menu (the group's commands: the result menu's tests; a pin's
// menu through the folder: delete_on_pins_unpins_them_and_leaves_their_targets).
TEST_F(ui_objects, a_group_gets_its_own_commands_in_the_real_menu)
{
    ASSERT_EQ(hex(ask({group_item.get()}, IID_IContextMenu)), hex(S_OK));
    EXPECT_TRUE(menu_of(object.get()).contains(L"Rename group"));
    object.reset();

    // A group whose folder is gone: the parse fails with its warning.
    auto gone = create_group_item_from_parts(group() + L"-gone", L"Gone");
    PIDLIST_ABSOLUTE probe = nullptr;
    const HRESULT parse = SHParseDisplayName((group() + L"-gone").c_str(), nullptr, &probe, 0, nullptr);
    test_support::log_capture log;
    EXPECT_EQ(hex(ask({gone.get()}, IID_IContextMenu)), hex(parse));
    EXPECT_EQ(log.messages(), strings{"WARNING wrap_real_context_menu_for_path: parse failed " + hex(parse) + " for " +
                                      to_utf8(group()) + "-gone"});
}

// A selection's real menu from its files' own folder, as Windows' shell item array hands it out (Wine's
// answers E_NOTIMPL).
HRESULT parent_folder_menu(IShellItemArray* items, IContextMenu** out)
{
    DWORD count = 0;
    if (FAILED(items->GetCount(&count)) || count == 0)
        return E_FAIL;
    std::vector<unique_absolute_id_list> lists(count);
    std::vector<PCUITEMID_CHILD> children;
    for (DWORD i = 0; i < count; ++i)
    {
        com_ptr<IShellItem> item;
        if (FAILED(items->GetItemAt(i, item.put())) || FAILED(SHGetIDListFromObject(item.get(), lists[i].put())))
            return E_FAIL;
        children.push_back(ILFindLastID(lists[i].get()));
    }
    com_ptr<IShellFolder> parent;
    if (FAILED(SHBindToParent(lists[0].get(), IID_IShellFolder, parent.put_void(), nullptr)))
        return E_FAIL;
    return parent->GetUIObjectOf(nullptr, count, children.data(), IID_IContextMenu, nullptr,
                                 reinterpret_cast<void**>(out));
}

// Delete on pins, as Explorer's Delete key sends it: the pins' shortcuts go to the Recycle Bin without a
// question, the files they point to stay as they were.
TEST_F(ui_objects, delete_on_pins_unpins_them_and_leaves_their_targets)
{
    test_support::write_file(group() + L"\\b.txt.lnk", "not really a shortcut");
    const auto pin_b = create_pin_item_from_parts(file(L"b.txt"), L"b.txt", group() + L"\\b.txt.lnk");
    const struct maker_in_use
    {
        selection_menu_detail::real_menu_maker previous;
        ~maker_in_use() { selection_menu_detail::replace_real_menu_maker(previous); }
    } maker{selection_menu_detail::replace_real_menu_maker(&parent_folder_menu)};
    // The real "Delete" of a's menu, which a pin's menu takes out.
    ASSERT_EQ(hex(ask({result_a.get()}, IID_IContextMenu)), hex(S_OK));
    const UINT real_delete = menu_of(object.get())[L"&Delete"];
    ASSERT_GE(real_delete, 100u);

    // The other ways to "delete" on one pin's menu: the result menu's own tests.
    const struct
    {
        const char* name;
        std::vector<PCUITEMID_CHILD> pins;
        bool by_command;
    } rows[] = {
        {"one pin, delete", {pin.get()}, false},
        {"two pins, delete", {pin.get(), pin_b.get()}, false},
        {"two pins, the menu's delete command", {pin.get(), pin_b.get()}, true},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        const std::vector<std::wstring> links = {group() + L"\\a.txt.lnk", group() + L"\\b.txt.lnk"};
        std::vector<int> recycled;
        for (const auto& link : links)
        {
            test_support::write_file(link, "not really a shortcut");
            recycled.push_back(test_support::recycled_items_from(link));
            ASSERT_GE(recycled.back(), 0);
        }
        ASSERT_EQ(hex(ask(row.pins, IID_IContextMenu)), hex(S_OK));
        const auto menu = object.try_query<IContextMenu>();
        const auto items = menu_of(menu.get());
        EXPECT_TRUE(items.contains(L"&Copy") && !items.contains(L"C&ut")) << "a pasted cut would move the targets";

        test_support::dialog_closer questions;
        CMINVOKECOMMANDINFO info{};
        info.cbSize = sizeof(info);
        info.lpVerb = row.by_command ? MAKEINTRESOURCEA(real_delete) : "delete";
        const HRESULT hr = menu->InvokeCommand(&info);
        EXPECT_FALSE(questions.stop()) << "a pin is unpinned without a question";
        EXPECT_EQ(hex(hr), hex(S_OK));
        for (std::size_t i = 0; i < links.size(); ++i)
        {
            const bool selected = i < row.pins.size();
            EXPECT_EQ(std::filesystem::exists(links[i]), !selected) << to_utf8(links[i]);
            EXPECT_EQ(test_support::recycled_items_from(links[i]), recycled[i] + (selected ? 1 : 0)) << to_utf8(links[i]);
        }
        for (const auto* target : {L"a.txt", L"b.txt"})
            EXPECT_EQ(test_support::read_file(file(target)), "x") << "a pin's target stays";
    }
    object.reset();
}

// The built DLL loaded as COM loads it: a menu's watcher thread keeps it loaded and DllCanUnloadNow at
// S_FALSE after the menu is gone, and lets go when it ends.
TEST_F(ui_objects, the_dll_unloads_only_after_menus_data_objects_and_watchers_are_gone)
{
    std::optional<module_test::loaded_dll> dll(std::in_place);
    ASSERT_TRUE(*dll);
    const auto get_class_object = dll->get_class_object;
    const auto can_unload = dll->can_unload_now;
    {
        com_ptr<IClassFactory> factory;
        ASSERT_EQ(hex(get_class_object(CLSID_search_and_action_shell_folder, IID_IClassFactory, factory.put_void())),
                  hex(S_OK));
        com_ptr<IShellFolder> folder;
        ASSERT_EQ(hex(factory->CreateInstance(nullptr, IID_IShellFolder, folder.put_void())), hex(S_OK));
        factory.reset();
        ASSERT_EQ(folder.try_query<IPersistFolder>()->Initialize(root_list.get()), S_OK);

        PCUITEMID_CHILD items[] = {result_a.get()};
        com_ptr<IDataObject> data;
        ASSERT_EQ(hex(folder->GetUIObjectOf(nullptr, 1, items, IID_IDataObject, nullptr, data.put_void())), hex(S_OK));
        com_ptr<IContextMenu> menu;
        ASSERT_EQ(hex(folder->GetUIObjectOf(nullptr, 1, items, IID_IContextMenu, nullptr, menu.put_void())), hex(S_OK));
        folder.reset();
        EXPECT_EQ(hex(can_unload()), hex(S_FALSE)) << "a menu and a data object are alive";
        data.reset();

        // "Copy" of the real menu: it succeeds and leaves a.txt where it is, so the watcher runs.
        const UINT copy = menu_of(menu.get())[L"&Copy"];
        ASSERT_GE(copy, 100u);
        CMINVOKECOMMANDINFO invoke{};
        invoke.cbSize = sizeof(invoke);
        invoke.lpVerb = MAKEINTRESOURCEA(copy);
        ASSERT_EQ(hex(menu->InvokeCommand(&invoke)), hex(S_OK));
    }
    EXPECT_EQ(hex(can_unload()), hex(S_FALSE)) << "the watcher thread runs for up to four seconds";
    HRESULT unload = S_FALSE;
    for (int i = 0; i < 60 && unload != S_OK; ++i, Sleep(100))
        unload = can_unload();
    EXPECT_EQ(hex(unload), hex(S_OK));
    EXPECT_TRUE(std::filesystem::exists(file(L"a.txt")));
    // The watcher took its own reference to the DLL and gave it back: this is the last one.
    dll.reset();
    EXPECT_EQ(GetModuleHandleW(L"Sortwell.NamespaceShellExtension.dll"), nullptr);
}

// A result's data object let go: a file moved elsewhere refreshes the view
// once; a rename through the folder's SetNameOf refreshes it itself and letting go adds nothing; a file
// left where it was refreshes nothing.
TEST_F(ui_objects, a_data_object_refreshes_for_a_file_moved_away_but_not_for_one_renamed_by_the_folder)
{
    const struct
    {
        const char* name;
        // Different files for a rename and a move: the moved-path set remembers the old name of every rename.
        const wchar_t* file;
        int by_the_folder, on_release; // refreshes
    } rows[] = {{"left where it was", L"a.txt", 0, 0}, {"renamed through the folder", L"a.txt", 1, 0}, {"moved away", L"b.txt", 0, 1}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        const auto item = create_result_item(file(row.file), {}, {});
        ASSERT_EQ(hex(ask({item.get()}, IID_IDataObject)), hex(S_OK));
        test_support::change_recorder changes(root_list.get());
        ASSERT_TRUE(changes.registered());
        if (row.by_the_folder)
        {
            PITEMID_CHILD renamed = nullptr;
            ASSERT_EQ(hex(root->SetNameOf(nullptr, item.get(), L"renamed.txt", SHGDN_NORMAL, &renamed)), hex(S_OK));
            CoTaskMemFree(renamed);
        }
        else if (row.on_release)
        {
            ASSERT_TRUE(MoveFileW(file(row.file).c_str(), file(L"renamed.txt").c_str()));
        }
        changes.pump(std::chrono::milliseconds(200));
        const int before_release = changes.count(SHCNE_UPDATEDIR, root_list.get());
        EXPECT_EQ(before_release, row.by_the_folder) << "SetNameOf's own refresh";
        object.reset();
        changes.pump(std::chrono::milliseconds(300));
        EXPECT_EQ(changes.count(SHCNE_UPDATEDIR, root_list.get()) - before_release, row.on_release);
        DeleteFileW(file(L"renamed.txt").c_str());
    }
}
} // namespace
