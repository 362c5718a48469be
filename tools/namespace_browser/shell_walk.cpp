#include "shell_walk.h"

#include "base/raii.h"

#include <oleauto.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>
#include <cwctype>
#include <iterator>
#include <map>
#include <utility>

namespace namespace_browser
{
namespace
{
constexpr GUID storage_properties = {0xB725F130, 0x47EF, 0x101A, {0xA5, 0xF1, 0x02, 0x60, 0x8C, 0x9E, 0xEB, 0xAC}};
constexpr GUID summary_properties = {0xF29F85E0, 0x4FF9, 0x1068, {0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9}};
constexpr GUID media_properties = {0x64440492, 0x4C8B, 0x11D1, {0x8B, 0x70, 0x08, 0x00, 0x36, 0xB1, 0x1A, 0x03}};
constexpr GUID people_names = {0xE8309B6E, 0x084C, 0x49B4, {0xB1, 0xFC, 0x90, 0xA8, 0x03, 0x31, 0xB6, 0x38}};
constexpr GUID folder_path_display = {0xE3E0584C, 0xB788, 0x4A5A, {0xBB, 0x20, 0x7F, 0x5A, 0x44, 0xC9, 0xAC, 0xDD}};

// Explorer learns a folder's columns by walking MapColumnToSCID until it fails; no folder has this many.
constexpr UINT column_limit = 512;
// Explorer's views ask for items in batches of this size.
constexpr ULONG batch_size = 100;

std::wstring take_string(wchar_t* text)
{
    unique_cotaskmem_string owner(text);
    return text ? std::wstring(text) : std::wstring();
}

HRESULT display_name(IShellFolder* folder, PCUITEMID_CHILD child, SHGDNF flags, std::wstring& name)
{
    STRRET strret{};
    HRESULT hr = folder->GetDisplayNameOf(child, flags, &strret);
    if (FAILED(hr))
        return hr;
    wchar_t* text = nullptr;
    hr = StrRetToStrW(&strret, child, &text);
    if (SUCCEEDED(hr))
        name = take_string(text);
    return hr;
}

std::wstring two_digits(int value) { return std::wstring{wchar_t(L'0' + value / 10 % 10), wchar_t(L'0' + value % 10)}; }

// A column's value as text: dates as "YYYY-MM-DD HH:MM:SS", lists joined with "; ", the rest as
// OLE Automation writes them in the invariant locale.
std::wstring variant_text(const VARIANT& value)
{
    switch (V_VT(&value))
    {
    case VT_EMPTY:
    case VT_NULL:
        return {};
    case VT_BSTR:
        return V_BSTR(&value) ? std::wstring(V_BSTR(&value), SysStringLen(V_BSTR(&value))) : std::wstring();
    case VT_DATE:
    {
        SYSTEMTIME time{};
        if (!VariantTimeToSystemTime(V_DATE(&value), &time))
            break;
        return std::to_wstring(time.wYear) + L"-" + two_digits(time.wMonth) + L"-" + two_digits(time.wDay) + L" " +
               two_digits(time.wHour) + L":" + two_digits(time.wMinute) + L":" + two_digits(time.wSecond);
    }
    case VT_ARRAY | VT_BSTR:
    {
        SAFEARRAY* array = V_ARRAY(&value);
        LONG low = 0, high = -1;
        if (!array || FAILED(SafeArrayGetLBound(array, 1, &low)) || FAILED(SafeArrayGetUBound(array, 1, &high)))
            return {};
        std::wstring joined;
        for (LONG i = low; i <= high; ++i)
        {
            BSTR element = nullptr;
            if (FAILED(SafeArrayGetElement(array, &i, &element)))
                continue;
            if (!joined.empty())
                joined += L"; ";
            if (element)
                joined.append(element, SysStringLen(element));
            SysFreeString(element);
        }
        return joined;
    }
    default:
        break;
    }
    VARIANT converted;
    VariantInit(&converted);
    std::wstring text = L"(VARIANT type " + std::to_wstring(V_VT(&value)) + L")";
    if (SUCCEEDED(VariantChangeTypeEx(&converted, const_cast<VARIANT*>(&value), LOCALE_INVARIANT, 0, VT_BSTR)) && V_BSTR(&converted))
        text.assign(V_BSTR(&converted), SysStringLen(V_BSTR(&converted)));
    VariantClear(&converted);
    return text;
}

bool same_key(const PROPERTYKEY& a, const PROPERTYKEY& b) { return a.fmtid == b.fmtid && a.pid == b.pid; }

// The column numbers of one folder, learned as Explorer learns them when it builds the header: each
// column's default state, then its property key.
class column_map
{
public:
    explicit column_map(IShellFolder2* folder) : folder_(folder) {}

    std::optional<UINT> find(const PROPERTYKEY& key)
    {
        if (!learned_)
            learn();
        for (const auto& [number, column_key] : columns_)
            if (same_key(column_key, key))
                return number;
        return std::nullopt;
    }

private:
    void learn()
    {
        learned_ = true;
        if (!folder_)
            return;
        for (UINT number = 0; number < column_limit; ++number)
        {
            SHCOLSTATEF state = 0;
            folder_->GetDefaultColumnState(number, &state);
            PROPERTYKEY key{};
            if (FAILED(folder_->MapColumnToSCID(number, &key)))
                break;
            columns_.emplace_back(number, key);
        }
    }

    IShellFolder2* folder_;
    bool learned_ = false;
    std::vector<std::pair<UINT, PROPERTYKEY>> columns_;
};

column_value read_column(IShellFolder2* folder, column_map& columns, PCUITEMID_CHILD child, const column& column)
{
    column_value result{column.name, std::nullopt, E_NOINTERFACE};
    if (!folder)
        return result;
    VARIANT value;
    VariantInit(&value);
    result.result = folder->GetDetailsEx(child, &column.key, &value);
    if (SUCCEEDED(result.result))
    {
        result.text = variant_text(value);
        VariantClear(&value);
        return result;
    }
    // The folder may answer only through the column numbers of its view.
    if (const auto number = columns.find(column.key))
    {
        SHELLDETAILS details{};
        if (SUCCEEDED(folder->GetDetailsOf(child, *number, &details)))
        {
            wchar_t* text = nullptr;
            if (SUCCEEDED(StrRetToStrW(&details.str, child, &text)))
                result.text = take_string(text);
        }
    }
    return result;
}

std::wstring failure(const wchar_t* what, HRESULT result) { return std::wstring(what) + L" failed: " + hresult_text(result); }

item describe(IShellFolder* folder, IShellFolder2* folder2, column_map& columns, PCUITEMID_CHILD child,
              const std::vector<column>& wanted)
{
    item result;
    if (const HRESULT hr = display_name(folder, child, SHGDN_NORMAL, result.name); FAILED(hr))
        result.errors.push_back(failure(L"GetDisplayNameOf(SHGDN_NORMAL)", hr));
    if (const HRESULT hr = display_name(folder, child, SHGDN_FORPARSING, result.parsing_name); FAILED(hr))
        result.errors.push_back(failure(L"GetDisplayNameOf(SHGDN_FORPARSING)", hr));
    result.attributes = asked_attributes;
    result.attributes_result = folder->GetAttributesOf(1, &child, &result.attributes);
    if (FAILED(result.attributes_result))
        result.attributes = 0;
    for (const auto& column : wanted)
        result.columns.push_back(read_column(folder2, columns, child, column));
    return result;
}

// Every item the folder lists with these flags, fetched in Explorer's batches. A folder may answer
// S_FALSE or S_OK without an enumerator when it has nothing of that kind.
HRESULT enumerate(IShellFolder* folder, DWORD flags, std::vector<unique_child_id>& items)
{
    com_ptr<IEnumIDList> enumerator;
    HRESULT hr = folder->EnumObjects(nullptr, flags, enumerator.put());
    if (FAILED(hr) || !enumerator)
        return hr;
    for (;;)
    {
        PITEMID_CHILD batch[batch_size] = {};
        ULONG fetched = 0;
        hr = enumerator->Next(batch_size, batch, &fetched);
        for (ULONG i = 0; i < std::min(fetched, batch_size); ++i)
            items.emplace_back(batch[i]);
        if (hr != S_OK || fetched == 0)
            return FAILED(hr) ? hr : S_OK;
    }
}

std::wstring flags_text(DWORD flags)
{
    wchar_t text[16];
    std::swprintf(text, std::size(text), L"0x%lX", static_cast<unsigned long>(flags));
    return text;
}

void walk_folder(IShellFolder* folder, item& node, int levels, const options& options)
{
    node.walked = true;
    std::vector<unique_child_id> in_pane, in_view;
    if (const HRESULT hr = enumerate(folder, navigation_pane_flags, in_pane); FAILED(hr))
        node.errors.push_back(failure((L"EnumObjects(" + flags_text(navigation_pane_flags) + L")").c_str(), hr));
    if (const HRESULT hr = enumerate(folder, view_flags, in_view); FAILED(hr))
        node.errors.push_back(failure((L"EnumObjects(" + flags_text(view_flags) + L")").c_str(), hr));

    const auto folder2 = com_ptr<IShellFolder>(folder).try_query<IShellFolder2>();
    column_map columns(folder2.get());
    // The view's items in its order, then what only the navigation pane lists; one item is one parsing name.
    std::vector<unique_child_id*> order;
    std::map<std::wstring, size_t> seen;
    auto add = [&](std::vector<unique_child_id>& list, bool pane) {
        for (auto& child : list)
        {
            item described = describe(folder, folder2.get(), columns, child.get(), options.columns);
            // An item without a parsing name cannot be matched; it stays on its own.
            const std::wstring identity = described.parsing_name.empty()
                                              ? L"\n" + std::to_wstring(node.children.size())
                                              : described.parsing_name;
            const auto [found, inserted] = seen.emplace(identity, node.children.size());
            item& target = inserted ? node.children.emplace_back(std::move(described)) : node.children[found->second];
            if (inserted)
                order.push_back(&child);
            (pane ? target.in_navigation_pane : target.in_view) = true;
        }
    };
    add(in_view, false);
    add(in_pane, true);

    if (levels <= 1)
        return;
    for (size_t i = 0; i < node.children.size(); ++i)
    {
        item& child = node.children[i];
        // Streams that are also folders (archives) are left closed, as the navigation pane leaves them.
        if (!(child.attributes & SFGAO_FOLDER) || (child.attributes & SFGAO_STREAM))
            continue;
        com_ptr<IShellFolder> subfolder;
        if (const HRESULT hr = folder->BindToObject(order[i]->get(), nullptr, IID_IShellFolder, subfolder.put_void());
            FAILED(hr) || !subfolder)
        {
            child.errors.push_back(failure(L"BindToObject", FAILED(hr) ? hr : E_NOINTERFACE));
            continue;
        }
        walk_folder(subfolder.get(), child, levels - 1, options);
    }
}

// Whether the parent's enumerations with the pane's and the view's flags list the item.
void find_in_parent(IShellFolder* parent, item& node)
{
    for (const bool pane : {true, false})
    {
        std::vector<unique_child_id> items;
        if (FAILED(enumerate(parent, pane ? navigation_pane_flags : view_flags, items)))
            continue;
        for (const auto& child : items)
        {
            std::wstring parsing_name;
            if (SUCCEEDED(display_name(parent, child.get(), SHGDN_FORPARSING, parsing_name)) &&
                CompareStringOrdinal(parsing_name.c_str(), -1, node.parsing_name.c_str(), -1, TRUE) == CSTR_EQUAL)
                (pane ? node.in_navigation_pane : node.in_view) = true;
        }
    }
}
} // namespace

const std::vector<column>& known_columns()
{
    static const std::vector<column> columns = {
        {L"name", {storage_properties, 10}},       {L"size", {storage_properties, 12}},
        {L"date_modified", {storage_properties, 14}}, {L"keywords", {summary_properties, 5}},
        {L"rating", {media_properties, 9}},        {L"people", {people_names, 100}},
        {L"folder_path", {folder_path_display, 6}}, {L"item_type", {storage_properties, 4}},
        {L"date_created", {storage_properties, 15}},
    };
    return columns;
}

std::optional<column> find_column(const std::wstring& name)
{
    for (const auto& column : known_columns())
        if (CompareStringOrdinal(column.name.c_str(), -1, name.c_str(), -1, TRUE) == CSTR_EQUAL)
            return column;
    return std::nullopt;
}

item walk_path(const std::wstring& path, const options& options)
{
    item node;
    node.name = path;
    node.parsing_name = path;
    com_ptr<IShellFolder> desktop;
    if (const HRESULT hr = SHGetDesktopFolder(desktop.put()); FAILED(hr))
    {
        node.errors.push_back(failure(L"SHGetDesktopFolder", hr));
        return node;
    }
    // The empty path is the desktop itself, the root of the namespace (an empty ID list).
    unique_absolute_id_list id_list;
    if (const HRESULT hr = path.empty() ? SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, id_list.put())
                                        : SHParseDisplayName(path.c_str(), nullptr, id_list.put(), 0, nullptr);
        FAILED(hr))
    {
        node.errors.push_back(failure(L"SHParseDisplayName", hr));
        return node;
    }
    com_ptr<IShellFolder> folder;
    if (ILIsEmpty(id_list.get()))
    {
        // The top of the navigation pane's tree and of every view's address.
        node.name = L"Desktop";
        node.attributes = SFGAO_FOLDER | SFGAO_HASSUBFOLDER;
        node.in_navigation_pane = node.in_view = true;
        folder = desktop;
    }
    else
    {
        com_ptr<IShellFolder> parent;
        PCUITEMID_CHILD last = nullptr;
        if (const HRESULT hr = SHBindToParent(id_list.get(), IID_IShellFolder, parent.put_void(), &last); FAILED(hr))
        {
            node.errors.push_back(failure(L"SHBindToParent", hr));
            return node;
        }
        const auto parent2 = parent.try_query<IShellFolder2>();
        column_map columns(parent2.get());
        node = describe(parent.get(), parent2.get(), columns, last, {});
        find_in_parent(parent.get(), node);
        // A file has nothing to list; a folder is walked only when levels below it are asked for.
        if (options.depth == 0 || (SUCCEEDED(node.attributes_result) && !(node.attributes & SFGAO_FOLDER)))
            return node;
        if (const HRESULT hr = desktop->BindToObject(id_list.get(), nullptr, IID_IShellFolder, folder.put_void());
            FAILED(hr) || !folder)
        {
            node.errors.push_back(failure(L"BindToObject", FAILED(hr) ? hr : E_NOINTERFACE));
            return node;
        }
    }
    if (options.depth > 0)
        walk_folder(folder.get(), node, options.depth, options);
    return node;
}

std::wstring hresult_text(HRESULT result)
{
    static const std::map<HRESULT, const wchar_t*> names = {
        {S_OK, L"S_OK"},
        {S_FALSE, L"S_FALSE"},
        {E_NOTIMPL, L"E_NOTIMPL"},
        {E_NOINTERFACE, L"E_NOINTERFACE"},
        {E_POINTER, L"E_POINTER"},
        {E_FAIL, L"E_FAIL"},
        {E_UNEXPECTED, L"E_UNEXPECTED"},
        {E_ACCESSDENIED, L"E_ACCESSDENIED"},
        {E_OUTOFMEMORY, L"E_OUTOFMEMORY"},
        {E_INVALIDARG, L"E_INVALIDARG"},
        {CLASS_E_CLASSNOTAVAILABLE, L"CLASS_E_CLASSNOTAVAILABLE"},
        {CLASS_E_NOAGGREGATION, L"CLASS_E_NOAGGREGATION"},
        {REGDB_E_CLASSNOTREG, L"REGDB_E_CLASSNOTREG"},
        {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), L"ERROR_FILE_NOT_FOUND"},
        {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), L"ERROR_PATH_NOT_FOUND"},
        {HRESULT_FROM_WIN32(ERROR_INSTALL_ALREADY_RUNNING), L"ERROR_INSTALL_ALREADY_RUNNING"},
    };
    wchar_t text[16];
    std::swprintf(text, std::size(text), L"0x%08lX", static_cast<unsigned long>(result));
    const auto found = names.find(result);
    return found == names.end() ? std::wstring(text) : std::wstring(text) + L" " + found->second;
}

std::wstring attribute_names(ULONG attributes)
{
    static const std::pair<ULONG, const wchar_t*> names[] = {
        {SFGAO_CANCOPY, L"CANCOPY"},       {SFGAO_CANMOVE, L"CANMOVE"},
        {SFGAO_CANLINK, L"CANLINK"},       {SFGAO_CANRENAME, L"CANRENAME"},
        {SFGAO_CANDELETE, L"CANDELETE"},   {SFGAO_HASPROPSHEET, L"HASPROPSHEET"},
        {SFGAO_DROPTARGET, L"DROPTARGET"}, {SFGAO_LINK, L"LINK"},
        {SFGAO_READONLY, L"READONLY"},     {SFGAO_HIDDEN, L"HIDDEN"},
        {SFGAO_STREAM, L"STREAM"},         {SFGAO_STORAGEANCESTOR, L"STORAGEANCESTOR"},
        {SFGAO_BROWSABLE, L"BROWSABLE"},   {SFGAO_FILESYSANCESTOR, L"FILESYSANCESTOR"},
        {SFGAO_FOLDER, L"FOLDER"},         {SFGAO_FILESYSTEM, L"FILESYSTEM"},
        {SFGAO_HASSUBFOLDER, L"HASSUBFOLDER"},
    };
    std::wstring text;
    for (const auto& [bit, name] : names)
        if (attributes & bit)
            text += (text.empty() ? L"" : L"|") + std::wstring(name);
    return text;
}

bool has_errors(const item& item)
{
    if (!item.errors.empty())
        return true;
    for (const auto& child : item.children)
        if (has_errors(child))
            return true;
    return false;
}
} // namespace namespace_browser
