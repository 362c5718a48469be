// The demo's driver: does what a user does in Explorer, through shell32 exactly as Explorer calls the
// namespace (parse a parsing name, bind to the parent folder, ask it for UI objects), and prints what
// happened. Also writes the demo's Menuwright model and seeds pins. Not part of the DLL.
//
//   sortwell_demo write-model <group>=<folder> ...      publish a Menuwright model with these groups
//   sortwell_demo write-pin <shortcut file> <target>    a pin as Menuwright writes it
//   sortwell_demo list <parsing name>                   the items Explorer would show, one a line
//   sortwell_demo drop <parsing name> <file> ...        drag files from their folder onto the item
//   sortwell_demo rename <parsing name> <new name>      in-place rename (IShellFolder::SetNameOf)
//   sortwell_demo menu <parsing name> [<command text>]  the item's context menu; runs the command
//   sortwell_demo open-shortcut <shortcut file>         resolve a shortcut and browse to its target
//
// Parsing names are the ones Explorer's address bar takes, e.g. "::{249AE234-...}\Ratings\★★★★".
// Exit code 0 on success, 1 when the shell answered a failure, 2 for a usage error, 3 when the
// namespace does not offer the object (E_NOINTERFACE, E_NOTIMPL, no such class): the demo lists those
// steps as not available.

#include "menuwright_snapshot_writer/menuwright_snapshot_writer.h"
#include "base/raii.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <shobjidl.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace
{
constexpr int exit_failed = 1;
constexpr int exit_usage = 2;
constexpr int exit_not_available = 3;

std::string utf8(std::wstring_view text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr,
                        nullptr);
    return result;
}

// UTF-8 straight to the standard handle: the demo's terminal or pipe gets the stars as they are.
void print(std::wstring_view text)
{
    const std::string bytes = utf8(text) + "\n";
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

std::wstring hex(HRESULT hr)
{
    wchar_t buffer[16];
    swprintf(buffer, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    return buffer;
}

int fail(std::wstring_view what, HRESULT hr)
{
    print(std::wstring(what) + L" failed: " + hex(hr));
    return hr == E_NOINTERFACE || hr == E_NOTIMPL || hr == CLASS_E_CLASSNOTAVAILABLE ? exit_not_available : exit_failed;
}

std::wstring strret_text(STRRET& name, PCUITEMID_CHILD child)
{
    unique_cotaskmem_string text;
    if (FAILED(StrRetToStrW(&name, child, text.put())) || !text)
        return {};
    return text.get();
}

std::wstring display_name(IShellFolder* folder, PCUITEMID_CHILD child, SHGDNF flags)
{
    STRRET name{};
    if (FAILED(folder->GetDisplayNameOf(child, flags, &name)))
        return {};
    return strret_text(name, child);
}

// An item by its parsing name: the absolute list, its parent folder and its last item (owned by the
// absolute list).
struct shell_item
{
    unique_absolute_id_list absolute;
    com_ptr<IShellFolder> parent;
    PCUITEMID_CHILD child = nullptr;
};

HRESULT parse(const std::wstring& parsing_name, shell_item& item)
{
    HRESULT hr = SHParseDisplayName(parsing_name.c_str(), nullptr, item.absolute.put(), 0, nullptr);
    if (SUCCEEDED(hr))
        hr = SHBindToParent(item.absolute.get(), IID_IShellFolder, item.parent.put_void(), &item.child);
    return hr;
}

// What Explorer's view lists: folders and files, hidden ones left out. One name a line, or with
// `summary` the count and the first three.
int list(const std::wstring& parsing_name, bool summary = false)
{
    unique_absolute_id_list absolute;
    HRESULT hr = SHParseDisplayName(parsing_name.c_str(), nullptr, absolute.put(), 0, nullptr);
    if (FAILED(hr))
        return fail(L"parsing \"" + parsing_name + L"\"", hr);
    com_ptr<IShellFolder> folder;
    hr = SHBindToObject(nullptr, absolute.get(), nullptr, IID_IShellFolder, folder.put_void());
    if (FAILED(hr))
        return fail(L"binding to \"" + parsing_name + L"\"", hr);
    com_ptr<IEnumIDList> items;
    hr = folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, items.put());
    if (FAILED(hr))
        return fail(L"EnumObjects", hr);
    if (hr == S_FALSE || !items)
        return 0;
    std::vector<std::wstring> names;
    for (;;)
    {
        unique_child_id child;
        ULONG fetched = 0;
        if (items->Next(1, child.put(), &fetched) != S_OK || fetched != 1)
            break;
        names.push_back(display_name(folder.get(), child.get(), SHGDN_INFOLDER));
        if (!summary)
            print(names.back());
    }
    if (summary)
    {
        std::wstring first;
        for (std::size_t i = 0; i < names.size() && i < 3; ++i)
            first += (i ? L", " : L"") + names[i];
        print(std::to_wstring(names.size()) + L" items" + (names.empty() ? L"" : L": " + first + L"..."));
    }
    return 0;
}

// The files as Explorer drags them out of their own folder: the real folder's data object (CF_HDROP
// among its formats). All files must lie in one folder, as in one drag.
HRESULT files_data_object(const std::vector<std::wstring>& files, com_ptr<IDataObject>& data)
{
    std::vector<unique_absolute_id_list> lists;
    std::vector<PCUITEMID_CHILD> children;
    com_ptr<IShellFolder> folder;
    for (const auto& file : files)
    {
        unique_absolute_id_list absolute;
        HRESULT hr = SHParseDisplayName(file.c_str(), nullptr, absolute.put(), 0, nullptr);
        if (FAILED(hr))
        {
            print(L"cannot parse " + file + L": " + hex(hr));
            return hr;
        }
        com_ptr<IShellFolder> parent;
        PCUITEMID_CHILD child = nullptr;
        hr = SHBindToParent(absolute.get(), IID_IShellFolder, parent.put_void(), &child);
        if (FAILED(hr))
            return hr;
        if (!folder)
            folder = parent;
        children.push_back(child);
        lists.push_back(std::move(absolute));
    }
    return folder->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()), children.data(), IID_IDataObject,
                                 nullptr, data.put_void());
}

std::wstring effect_text(DWORD effect)
{
    std::wstring text;
    for (auto [bit, name] : {std::pair{DROPEFFECT_COPY, L"copy"}, {DROPEFFECT_MOVE, L"move"}, {DROPEFFECT_LINK, L"link"}})
        if (effect & bit)
            text += (text.empty() ? L"" : L"+") + std::wstring(name);
    return text.empty() ? L"none" : text;
}

int drop(const std::wstring& parsing_name, const std::vector<std::wstring>& files)
{
    shell_item target;
    HRESULT hr = parse(parsing_name, target);
    if (FAILED(hr))
        return fail(L"parsing \"" + parsing_name + L"\"", hr);
    com_ptr<IDropTarget> drop_target;
    hr = target.parent->GetUIObjectOf(nullptr, 1, &target.child, IID_IDropTarget, nullptr,
                                              drop_target.put_void());
    if (FAILED(hr) || !drop_target)
        return fail(L"GetUIObjectOf(IDropTarget)", FAILED(hr) ? hr : E_NOINTERFACE);
    com_ptr<IDataObject> data;
    if (hr = files_data_object(files, data); FAILED(hr))
        return fail(L"the files' data object", hr);

    // Explorer offers every effect the source allows and lets the target choose.
    const POINTL point{100, 100};
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
    hr = drop_target->DragEnter(data.get(), MK_LBUTTON, point, &effect);
    print(L"DragEnter: " + hex(hr) + L", effect " + effect_text(effect));
    if (FAILED(hr) || effect == DROPEFFECT_NONE)
    {
        drop_target->DragLeave();
        return exit_failed;
    }
    effect = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
    hr = drop_target->DragOver(MK_LBUTTON, point, &effect);
    print(L"DragOver: " + hex(hr) + L", effect " + effect_text(effect));
    effect = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
    hr = drop_target->Drop(data.get(), 0, point, &effect);
    print(L"Drop: " + hex(hr) + L", effect " + effect_text(effect));
    return FAILED(hr) ? exit_failed : 0;
}

int rename(const std::wstring& parsing_name, const std::wstring& new_name)
{
    shell_item item;
    if (HRESULT hr = parse(parsing_name, item); FAILED(hr))
        return fail(L"parsing \"" + parsing_name + L"\"", hr);
    // Explorer's in-place edit: the name shown in the folder, edited.
    unique_child_id renamed;
    HRESULT hr = item.parent->SetNameOf(nullptr, item.child, new_name.c_str(), SHGDN_INFOLDER | SHGDN_FOREDITING,
                                        renamed.put());
    if (FAILED(hr))
        return fail(L"SetNameOf", hr);
    print(L"SetNameOf: " + hex(hr) + L", now shown as \"" +
          (renamed ? display_name(item.parent.get(), renamed.get(), SHGDN_INFOLDER) : L"?") + L"\"");
    return 0;
}

std::wstring without_ampersands(std::wstring text)
{
    std::erase(text, L'&');
    return text;
}

int menu(const std::wstring& parsing_name, const std::wstring& command_text)
{
    shell_item item;
    if (HRESULT hr = parse(parsing_name, item); FAILED(hr))
        return fail(L"parsing \"" + parsing_name + L"\"", hr);
    com_ptr<IContextMenu> context_menu;
    HRESULT hr = item.parent->GetUIObjectOf(nullptr, 1, &item.child, IID_IContextMenu, nullptr,
                                            context_menu.put_void());
    if (FAILED(hr) || !context_menu)
        return fail(L"GetUIObjectOf(IContextMenu)", FAILED(hr) ? hr : E_NOINTERFACE);

    constexpr UINT first_id = 1;
    HMENU popup = CreatePopupMenu();
    hr = context_menu->QueryContextMenu(popup, 0, first_id, 0x7FFF, CMF_NORMAL | CMF_EXPLORE);
    if (FAILED(hr))
    {
        DestroyMenu(popup);
        return fail(L"QueryContextMenu", hr);
    }
    UINT chosen = 0;
    std::wstring items;
    const int count = GetMenuItemCount(popup);
    for (int position = 0; position < count; ++position)
    {
        wchar_t text[256] = {};
        if (GetMenuStringW(popup, static_cast<UINT>(position), text, 256, MF_BYPOSITION) <= 0)
            continue;
        const UINT id = GetMenuItemID(popup, position);
        const std::wstring plain = without_ampersands(text);
        items += (items.empty() ? L"" : L" | ") + plain;
        if (!command_text.empty() && id != static_cast<UINT>(-1) &&
            CompareStringOrdinal(plain.c_str(), -1, without_ampersands(command_text).c_str(), -1, TRUE) == CSTR_EQUAL)
            chosen = id;
    }
    print(L"menu: " + items);
    if (command_text.empty())
    {
        DestroyMenu(popup);
        return 0;
    }
    if (chosen == 0)
    {
        DestroyMenu(popup);
        print(L"the menu has no \"" + command_text + L"\"");
        return exit_not_available;
    }
    // Explorer invokes by command offset, with the Unicode structure.
    CMINVOKECOMMANDINFOEX info{};
    info.cbSize = sizeof(info);
    info.fMask = CMIC_MASK_UNICODE | CMIC_MASK_FLAG_NO_UI;
    info.lpVerb = MAKEINTRESOURCEA(chosen - first_id);
    info.lpVerbW = MAKEINTRESOURCEW(chosen - first_id);
    info.nShow = SW_SHOWNORMAL;
    hr = context_menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info));
    DestroyMenu(popup);
    print(L"\"" + without_ampersands(command_text) + L"\": " + hex(hr));
    return FAILED(hr) ? exit_failed : 0;
}

// The target ID list a shortcut file holds: after the 76-byte header, whose flags (offset 20) say whether
// a list follows, the list's size (16 bits) and the list.
unique_absolute_id_list id_list_in_shortcut_file(const std::wstring& shortcut_file)
{
    std::ifstream in(std::filesystem::path(shortcut_file), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    unique_absolute_id_list list;
    if (bytes.size() < 78 || bytes[0] != 0x4C || !(static_cast<unsigned char>(bytes[20]) & 1))
        return list;
    const std::size_t size = static_cast<unsigned char>(bytes[76]) | static_cast<unsigned char>(bytes[77]) << 8;
    if (size < 2 || 78 + size > bytes.size())
        return list;
    list.reset(static_cast<ITEMIDLIST_ABSOLUTE*>(CoTaskMemAlloc(size)));
    if (list)
        std::memcpy(list.get(), bytes.data() + 78, size);
    return list;
}

int open_shortcut(const std::wstring& shortcut_file)
{
    com_ptr<IShellLinkW> link;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void());
    if (FAILED(hr))
        return fail(L"CoCreateInstance(ShellLink)", hr);
    auto file = link.try_query<IPersistFile>();
    if (!file || FAILED(hr = file->Load(shortcut_file.c_str(), STGM_READ)))
        return fail(L"loading " + shortcut_file, file ? hr : E_NOINTERFACE);
    unique_absolute_id_list target;
    hr = link->GetIDList(target.put());
    if (FAILED(hr) || !target)
    {
        // Wine's shell link drops a loaded ID list that holds item types it does not know (ours among
        // them); Windows hands it back as saved. The list is then taken from the file itself.
        target = id_list_in_shortcut_file(shortcut_file);
        if (!target)
            return fail(L"the shortcut's target", FAILED(hr) ? hr : E_FAIL);
        print(L"(the shell link answered " + hex(hr) + L" for its ID list; read from the file, as Windows would hand it back)");
    }
    // What the shell shows in the address bar for the target, then the folder opened there.
    unique_cotaskmem_string name;
    SHGetNameFromIDList(target.get(), SIGDN_DESKTOPABSOLUTEEDITING, name.put());
    print(L"target: " + std::wstring(name ? name.get() : L"?"));
    unique_cotaskmem_string parsing;
    SHGetNameFromIDList(target.get(), SIGDN_DESKTOPABSOLUTEPARSING, parsing.put());
    print(L"parsing name: " + std::wstring(parsing ? parsing.get() : L"?"));
    return parsing ? list(parsing.get(), true) : exit_failed;
}

int write_pin(const std::wstring& shortcut_file, const std::wstring& target)
{
    com_ptr<IShellLinkW> link;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void());
    if (FAILED(hr) || FAILED(hr = link->SetPath(target.c_str())))
        return fail(L"the shortcut to " + target, hr);
    std::filesystem::path parent = std::filesystem::path(target).parent_path();
    if (!parent.empty())
        link->SetWorkingDirectory(parent.c_str());
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(shortcut_file).parent_path(), error);
    auto file = link.try_query<IPersistFile>();
    if (!file || FAILED(hr = file->Save(shortcut_file.c_str(), TRUE)))
        return fail(L"saving " + shortcut_file, file ? hr : E_NOINTERFACE);
    return 0;
}

std::wstring known_folder(REFKNOWNFOLDERID id)
{
    unique_cotaskmem_string path;
    return SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, path.put())) ? path.get() : L"";
}

void write_bytes(const std::filesystem::path& file, const std::vector<std::byte>& bytes)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + utf8(file.wstring()));
}

// The model as Menuwright publishes it: a few commands of its own around the quick pins groups, the
// snapshot first, the control file naming it last.
int write_model(const std::vector<std::wstring>& groups)
{
    menuwright_writer::snapshot_builder model;
    model.header_text = model.text(u"Velmora custom model");
    model.add_catalog_item(u"windows:copy");
    for (const auto& group : groups)
    {
        const auto equals = group.find(L'=');
        if (equals == std::wstring::npos)
        {
            print(L"a group is <name>=<folder> (the folder may be empty): " + group);
            return exit_usage;
        }
        const std::wstring name = group.substr(0, equals), folder = group.substr(equals + 1);
        model.add_quick_pins_group(std::u16string_view(reinterpret_cast<const char16_t*>(name.data()), name.size()),
                                   std::u16string_view(reinterpret_cast<const char16_t*>(folder.data()), folder.size()));
    }
    model.add_catalog_item(u"windows:properties");

    const std::filesystem::path published =
        std::filesystem::path(known_folder(FOLDERID_LocalAppData)) / L"Quenbrook" / L"Velmora" / L"Menuwright" / L"published";
    std::filesystem::create_directories(published);
    constexpr std::int32_t number = 1;
    write_bytes(published / menuwright_writer::snapshot_file_name(number), model.build());
    write_bytes(published / std::string(menuwright_writer::control_file_name), menuwright_writer::control_file(number));
    print(L"Menuwright model: " + std::to_wstring(groups.size()) + L" quick pins group(s) in " + published.wstring());
    return 0;
}

int usage()
{
    print(L"usage: sortwell_demo write-model <group>=<folder> ... | write-pin <shortcut> <target> | list <name> | "
          L"drop <name> <file> ... | rename <name> <new name> | menu <name> [<command>] | open-shortcut <shortcut>");
    return exit_usage;
}

int run(const std::vector<std::wstring>& arguments)
{
    if (arguments.empty())
        return usage();
    const std::wstring& command = arguments[0];
    const std::vector<std::wstring> rest(arguments.begin() + 1, arguments.end());
    if (command == L"write-model" && !rest.empty())
        return write_model(rest);
    if (command == L"write-pin" && rest.size() == 2)
        return write_pin(rest[0], rest[1]);
    if (command == L"list" && rest.size() == 1)
        return list(rest[0]);
    if (command == L"drop" && rest.size() >= 2)
        return drop(rest[0], std::vector<std::wstring>(rest.begin() + 1, rest.end()));
    if (command == L"rename" && rest.size() == 2)
        return rename(rest[0], rest[1]);
    if (command == L"menu" && (rest.size() == 1 || rest.size() == 2))
        return menu(rest[0], rest.size() == 2 ? rest[1] : L"");
    if (command == L"open-shortcut" && rest.size() == 1)
        return open_shortcut(rest[0]);
    return usage();
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    // Explorer's UI thread: a single-threaded apartment.
    if (FAILED(OleInitialize(nullptr)))
        return exit_failed;
    int result = exit_failed;
    try
    {
        result = run(std::vector<std::wstring>(argv + 1, argv + argc));
    }
    catch (const std::exception& error)
    {
        std::fprintf(stdout, "error: %s\n", error.what());
    }
    OleUninitialize();
    return result;
}
