#include "commands/search_folder_file_context_menu.h"

#include "base/com_boundary.h"
#include "base/com_object.h"
#include "base/module_folder.h"
#include "base/raii.h"
#include "commands/settings_app_launcher.h"
#include "icons/icon_handler.h"
#include "items/search_and_action_item_data.h"

#include <knownfolders.h>
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <cwctype>

namespace
{
struct command
{
    const wchar_t* text;
    const char* verb;
    const char* help;
};

// Offsets from the first command id.
constexpr UINT open_command = 0;
constexpr UINT shortcut_command = 1;
constexpr UINT customize_command = 2;
constexpr std::array<command, 3> commands = {{
    {L"Open", "open", "Opens the selected item"},
    {L"Create s&hortcut", "link", "Creates a shortcut to this item on the desktop"},
    {L"Customize Sortwell", "VLM.CustomizeSortwell", "Opens Sortwell settings"},
}};

// The name the shortcut gets: the folder's or search's own name. The identifier's path is "<root>\<folder>"
// or "<root>\<folder>\<search>"; a name may hold a slash ("Report: Q1/Q2"), which the generic file-name
// accessor would take for a separator.
std::wstring shortcut_name(const search_and_action_item_data* item)
{
    const std::wstring path = item_path(item);
    const std::wstring_view root = main_root_parsing_name;
    if (path.size() > root.size() && path.compare(0, root.size(), root) == 0 && path[root.size()] == L'\\')
    {
        std::wstring_view rest = std::wstring_view(path).substr(root.size() + 1);
        if (item->kind == static_cast<std::uint8_t>(item_kind::organized_search))
        {
            const auto separator = rest.find(L'\\');
            if (separator != std::wstring_view::npos)
                return std::wstring(rest.substr(separator + 1));
        }
        return std::wstring(rest);
    }
    return item_display_name(item);
}

class search_folder_file_context_menu : public com_object<search_folder_file_context_menu, IContextMenu>
{
public:
    // IContextMenu: "Open" as the default, then "Create s&hortcut" and "Customize Sortwell".
    STDMETHODIMP QueryContextMenu(HMENU menu, UINT index, UINT first, UINT last, UINT flags) noexcept override;
    // IContextMenu: runs a command given by its offset; verbs are not accepted.
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) noexcept override;
    // IContextMenu: the verb or help text of a command.
    STDMETHODIMP GetCommandString(UINT_PTR command, UINT type, UINT* reserved, CHAR* buffer,
                                  UINT size) noexcept override;

private:
    friend class com_object<search_folder_file_context_menu, IContextMenu>;
    search_folder_file_context_menu() noexcept = default;

    HRESULT initialize(IPersistFolder2* folder, PCUITEMID_CHILD item) noexcept
    {
        if (!lock_.initialized())
            return HRESULT_FROM_WIN32(GetLastError());
        if (!own_item_data(item))
            return E_INVALIDARG;
        item_.reset(reinterpret_cast<PITEMID_CHILD>(ILCloneFirst(item)));
        if (!item_)
            return E_OUTOFMEMORY;
        folder_ = com_ptr<IPersistFolder2>(folder);
        return S_OK;
    }

    // The folder's list joined with the item; empty without a folder, before the folder was
    // initialised, or when memory runs out.
    unique_absolute_id_list full_id_list() const noexcept;
    HRESULT open(HWND window) const;
    HRESULT do_create_shortcut() const;
    HRESULT customize() const;

    critical_section lock_;
    com_ptr<IPersistFolder2> folder_;
    unique_child_id item_;
};

unique_absolute_id_list search_folder_file_context_menu::full_id_list() const noexcept
{
    if (!folder_)
        return {};
    // The folder's GetCurFolder copies its list under the folder lock; none before Initialize.
    PIDLIST_ABSOLUTE copy = nullptr;
    if (FAILED(folder_->GetCurFolder(&copy)))
        return {};
    const unique_absolute_id_list folder_list(copy);
    if (!folder_list)
        return {};
    return unique_absolute_id_list(ILCombine(folder_list.get(), item_.get()));
}

STDMETHODIMP search_folder_file_context_menu::QueryContextMenu(HMENU menu, UINT index, UINT first, UINT, UINT flags) noexcept
{
    const UINT count = (flags & CMF_DEFAULTONLY) ? 1 : static_cast<UINT>(commands.size());
    for (UINT offset = 0; offset < count; ++offset)
        if (!InsertMenuW(menu, index + offset, MF_BYPOSITION | MF_STRING, first + offset, commands[offset].text))
            return HRESULT_FROM_WIN32(GetLastError());
        else if (offset == open_command)
            SetMenuDefaultItem(menu, first + open_command, FALSE);
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, count);
}

STDMETHODIMP search_folder_file_context_menu::InvokeCommand(CMINVOKECOMMANDINFO* info) noexcept
{
    if (!info)
        return E_INVALIDARG;
    if (!IS_INTRESOURCE(info->lpVerb) || !item_)
        return E_FAIL;
    return com_boundary("InvokeCommand", [&]() -> HRESULT {
        switch (LOWORD(reinterpret_cast<UINT_PTR>(info->lpVerb)))
        {
        case open_command:
            return open(info->hwnd);
        case shortcut_command:
            return do_create_shortcut();
        case customize_command:
            return customize();
        default:
            return E_FAIL;
        }
    });
}

HRESULT search_folder_file_context_menu::open(HWND window) const
{
    const unique_absolute_id_list id_list = full_id_list();
    if (!id_list)
    {
        log_message(log_level::error, "InvokeCommand: Unable to determine full pidl");
        return E_FAIL;
    }
    SHELLEXECUTEINFOW execute{};
    execute.cbSize = sizeof(execute);
    execute.fMask = SEE_MASK_IDLIST | SEE_MASK_UNICODE;
    execute.hwnd = window;
    execute.lpVerb = L"explore";
    execute.lpIDList = const_cast<ITEMIDLIST_ABSOLUTE*>(id_list.get());
    execute.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&execute))
        return S_OK;
    log_message(log_level::error, "InvokeCommand: ShellExecuteEx failed 0x{:X}",
                hresult_bits(HRESULT_FROM_WIN32(GetLastError())));
    return E_FAIL;
}

HRESULT search_folder_file_context_menu::do_create_shortcut() const
{
    const unique_absolute_id_list id_list = full_id_list();
    if (!id_list)
    {
        log_message(log_level::error, "do_create_shortcut: Unable to determine full pidl");
        return E_FAIL;
    }
    const auto* item = own_item_data(item_.get());
    const std::wstring icon = item_icon(item);
    return create_desktop_shortcut_to_pidl(id_list.get(), shortcut_name(item),
                                           icon.empty() ? std::wstring() : resolve_icon_path(icon));
}

HRESULT search_folder_file_context_menu::customize() const
{
    try
    {
        launch_settings_app("tagwright");
        return S_OK;
    }
    catch (const settings_app::launch_error& error)
    {
        // launch_settings_app has logged the failure with its details.
        return error.code != 0 ? HRESULT_FROM_WIN32(error.code) : E_FAIL;
    }
    catch (const std::bad_alloc&)
    {
        throw;
    }
    catch (const std::exception&)
    {
        log_caught_exception("InvokeCommand");
        return E_FAIL;
    }
}

STDMETHODIMP search_folder_file_context_menu::GetCommandString(UINT_PTR offset, UINT type, UINT*, CHAR* buffer,
                                                               UINT size) noexcept
{
    if (offset >= commands.size() || type > GCS_HELPTEXTW || type == GCS_VALIDATEA || type == GCS_VALIDATEW)
        return E_FAIL;
    if (type != GCS_VERBA && type != GCS_VERBW && type != GCS_HELPTEXTA && type != GCS_HELPTEXTW)
        return E_FAIL;
    if (!buffer || size == 0)
        return E_INVALIDARG;
    const command& entry = commands[offset];
    const std::string_view text = (type & ~GCS_UNICODE) == GCS_VERBA ? entry.verb : entry.help;
    const std::size_t length = std::min<std::size_t>(text.size(), size - 1);
    // The texts are ASCII, so the wide form is the narrow one widened character by character.
    if (type & GCS_UNICODE)
    {
        auto* wide = reinterpret_cast<wchar_t*>(buffer);
        std::transform(text.begin(), text.begin() + length, wide, [](char c) { return static_cast<wchar_t>(c); });
        wide[length] = L'\0';
    }
    else
    {
        std::copy_n(text.begin(), length, buffer);
        buffer[length] = '\0';
    }
    return S_OK;
}

// Makes the shortcut's file exclusively, so that a file another process creates meanwhile is never
// overwritten: answers the path taken, or an empty path with the reason in `result`.
std::wstring reserve_shortcut_file(const std::wstring& desktop, const std::wstring& name, HRESULT& result)
{
    for (int number = 1; number <= 99; ++number)
    {
        std::wstring path = shortcut_detail::shortcut_file_path(desktop, name, number);
        const unique_hfile file(
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file)
            return path;
        const DWORD error = GetLastError();
        // Taken: by a file (ERROR_FILE_EXISTS) or by a folder of that name (ERROR_ACCESS_DENIED).
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        {
            result = HRESULT_FROM_WIN32(error);
            log_message(log_level::error, L"create_desktop_shortcut_to_pidl: Save failed 0x{:X} path: {}",
                        hresult_bits(result), path);
            return {};
        }
    }
    result = HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
    log_message(log_level::error,
                L"create_desktop_shortcut_to_pidl: no free shortcut name: \"{}.lnk\" and \"{} (2).lnk\" to \"{} (99).lnk\" "
                L"exist in {}",
                name, name, name, desktop);
    return {};
}
} // namespace

HRESULT create_search_folder_file_context_menu(IPersistFolder2* folder, PCUITEMID_CHILD item,
                                               REFIID riid, void** out) noexcept
{
    return search_folder_file_context_menu::create_instance(riid, out, folder, item);
}

HRESULT create_desktop_shortcut_to_pidl(PCIDLIST_ABSOLUTE id_list, std::wstring_view display_name,
                                        std::wstring_view icon_path) noexcept
{
    return com_boundary("create_desktop_shortcut_to_pidl", [&]() -> HRESULT {
        com_ptr<IShellLinkW> link;
        HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_ALL, IID_IShellLinkW, link.put_void());
        if (FAILED(hr))
        {
            log_message(log_level::error, "create_desktop_shortcut_to_pidl: CoCreateInstance failed 0x{:X}",
                        hresult_bits(hr));
            return hr;
        }
        hr = link->SetIDList(id_list);
        if (FAILED(hr))
        {
            log_message(log_level::error, "create_desktop_shortcut_to_pidl: SetIDList failed 0x{:X}", hresult_bits(hr));
            return hr;
        }
        const std::wstring icon(icon_path);
        if (!icon.empty() && GetFileAttributesW(icon.c_str()) != INVALID_FILE_ATTRIBUTES)
            link->SetIconLocation(icon.c_str(), 0);

        unique_cotaskmem_string desktop;
        hr = SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, desktop.put());
        if (FAILED(hr))
        {
            log_message(log_level::error, "create_desktop_shortcut_to_pidl: SHGetKnownFolderPath failed 0x{:X}",
                        hresult_bits(hr));
            return hr;
        }

        com_ptr<IPersistFile> file;
        hr = link->QueryInterface(IID_IPersistFile, file.put_void());
        if (FAILED(hr))
            return hr;
        const std::wstring name = shortcut_detail::clean_file_name(display_name);
        const std::wstring path = reserve_shortcut_file(desktop.get(), name, hr);
        if (path.empty())
            return hr;
        hr = file->Save(path.c_str(), TRUE);
        if (FAILED(hr))
        {
            log_message(log_level::error, L"create_desktop_shortcut_to_pidl: Save failed 0x{:X} path: {}",
                        hresult_bits(hr), path);
            DeleteFileW(path.c_str());
            return hr;
        }
        SHChangeNotify(SHCNE_CREATE, SHCNF_PATHW, path.c_str(), nullptr);
        return S_OK;
    });
}
