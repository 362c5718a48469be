#include "icons/icon_handler.h"

#include "base/com_boundary.h"
#include "base/com_object.h"
#include "base/module_folder.h"
#include "base/namespace_module.h"
#include "base/process_object.h"
#include "base/raii.h"
#include "items/configuration_references.h"
#include "items/folder_tree.h"
#include "items/search_and_action_item_data.h"
#include "quick_pins/quick_pins_store.h"
#include "search/volume_guard.h"

#include <shellapi.h>

#include <algorithm>
#include <cwctype>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

namespace
{
bool is_separator(wchar_t c) noexcept
{
    return c == L'\\' || c == L'/';
}

bool is_absolute(std::wstring_view path) noexcept
{
    if (path.size() >= 3 && std::iswalpha(path[0]) && path[1] == L':' && is_separator(path[2]))
        return true;
    return path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]);
}

// "X:" followed by a separator or nothing.
bool starts_with_drive(std::wstring_view path) noexcept
{
    return path.size() >= 2 && std::iswalpha(path[0]) && path[1] == L':' && (path.size() == 2 || is_separator(path[2]));
}

bool starts_with_ignoring_case(std::wstring_view text, std::wstring_view prefix) noexcept
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::towlower(text[i]) != std::towlower(prefix[i]))
            return false;
    return true;
}

// The DLL's folder never changes while it is loaded; GetModuleFileNameW takes the loader lock, so read it
// once rather than on every icon the view asks for.
const std::wstring& dll_folder()
{
    static const std::wstring folder = module_folder(module_instance);
    return folder;
}

// The configuration files as the icon handler last read them: a request only checks that the files it
// needs are unchanged (one attribute read each), as the shell asks for the icons of a whole view at once.
class icon_configuration
{
public:
    // The icon text that the configuration gives the organised folder or saved search `item` stands
    // for, references replaced; nothing when the configuration cannot be read or does not name it.
    std::optional<std::wstring> icon_of(const search_and_action_item_data* item)
    {
        const std::wstring path = item_path(item);
        const std::wstring_view root = main_root_parsing_name;
        if (!starts_with_ignoring_case(path, root) || path.size() <= root.size() + 1 || path[root.size()] != L'\\')
            return std::nullopt;
        const std::wstring_view rest = std::wstring_view(path).substr(root.size() + 1);
        const bool search = item->kind == static_cast<std::uint8_t>(item_kind::organized_search);

        std::lock_guard lock(mutex_);
        if (!configuration_)
            configuration_ = std::make_unique<namespace_configuration>();
        if (!configuration_->namespace_file.load(false))
            return std::nullopt;
        if (!search)
        {
            const auto* folder = find_folder_record(*configuration_, rest, false);
            return folder ? std::optional<std::wstring>(folder->icon) : std::nullopt;
        }
        const std::size_t separator = rest.find(L'\\');
        if (separator == std::wstring_view::npos)
            return std::nullopt;
        const std::vector<std::wstring> names{std::wstring(rest.substr(0, separator)),
                                              std::wstring(rest.substr(separator + 1))};
        const auto* folder = find_folder_record(*configuration_, names[0], false);
        if (!folder)
            return std::nullopt;
        // The tags and people files are read only when the folder's searches refer to them.
        const bool references = std::any_of(folder->queries.begin(), folder->queries.end(), [](const auto& query) {
            return query.name.find(L'$') != std::wstring::npos || query.icon.find(L'$') != std::wstring::npos;
        });
        if (references && (!configuration_->tags.load(false) || !configuration_->people.load(false)))
            return std::nullopt;
        const auto* query = find_saved_search(*configuration_, names);
        if (!query)
            return std::nullopt;
        return resolve_references(query->icon, configuration_->tags, configuration_->people);
    }

private:
    std::mutex mutex_;
    std::unique_ptr<namespace_configuration> configuration_;
};

icon_configuration& the_icon_configuration()
{
    static process_object<icon_configuration> configuration;
    return configuration.get();
}

bool is_configured_group_folder(std::wstring_view path, volume_guard& guard)
{
    for (const auto& group : get_pin_groups(guard))
    {
        const std::wstring_view folder = group.folder;
        if (folder.empty() || !starts_with_ignoring_case(path, folder))
            continue;
        if (path.size() == folder.size() || is_separator(path[folder.size()]) || is_separator(folder.back()))
            return true;
    }
    return false;
}

icon_location empty_location()
{
    return {};
}

// The icon of any folder, looked up from the attribute alone: no file is touched.
icon_location generic_folder_location(const wchar_t* path)
{
    SHFILEINFOW info{};
    if (SHGetFileInfoW(path, FILE_ATTRIBUTE_DIRECTORY, &info, sizeof(info), SHGFI_ICONLOCATION | SHGFI_USEFILEATTRIBUTES) !=
            0 &&
        info.szDisplayName[0] != L'\0')
        return {info.szDisplayName, info.iIcon, GIL_PERINSTANCE};
    return empty_location();
}

icon_location generic_folder_location()
{
    // A plain name: a path the identifier brought is never handed to the shell, not even for this.
    return generic_folder_location(L"Folder");
}

// The volume guard's answer; a probe that cannot be started counts as a volume that does not answer.
bool answers(volume_guard& guard, std::wstring_view path)
{
    try
    {
        return guard.is_responsive(path);
    }
    catch (const std::bad_alloc&)
    {
        throw;
    }
    catch (...)
    {
        log_caught_exception("GetIconLocation");
        return false;
    }
}

icon_location path_not_used(const std::wstring& path, const wchar_t* reason)
{
    log_message(log_level::warning, L"GetIconLocation: icon path not used ({}): {}", reason, path);
    return generic_folder_location();
}

// Kinds 1 and 2: the icon file the configuration names for the item, else the item's own text.
icon_location configured_location(const search_and_action_item_data* item, volume_guard& guard)
{
    const auto configured = the_icon_configuration().icon_of(item);
    const std::wstring text = configured ? *configured : item_icon(item);
    if (text.empty())
        return generic_folder_location();
    const std::wstring path = resolve_icon_path(text);
    const auto place = icon_path_place_of(path);
    switch (place.place)
    {
    case icon_path_place::local:
        break;
    case icon_path_place::share:
        if (!configured)
            return path_not_used(path, L"a share the configuration does not name");
        if (!answers(guard, place.share_path))
            return path_not_used(path, L"its share does not answer");
        break;
    default:
        return path_not_used(path, L"neither local nor on a share");
    }
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        log_message(log_level::warning, L"Icon file does not exist. Investigate. File: {}", path);
    return {path, 0, GIL_PERINSTANCE};
}

// Kind 5: the icon of the group's folder on disk.
icon_location group_location(const search_and_action_item_data* item, volume_guard& guard)
{
    const std::wstring path = item_path(item);
    if (path.empty())
        return generic_folder_location();
    const auto place = icon_path_place_of(path);
    if (place.place == icon_path_place::share)
    {
        if (!is_configured_group_folder(path, guard))
            return path_not_used(path, L"a share that no quick pins group names");
        if (!answers(guard, place.share_path))
            return path_not_used(path, L"its share does not answer");
    }
    else if (place.place != icon_path_place::local)
        return path_not_used(path, L"neither local nor on a share");

    // The folder's own icon (a desktop.ini of its own, a special folder) needs the folder itself; on a
    // volume that does not answer, the generic folder icon below is all we may ask for.
    SHFILEINFOW info{};
    if (answers(guard, path) && SHGetFileInfoW(path.c_str(), 0, &info, sizeof(info), SHGFI_ICONLOCATION) != 0 &&
        info.szDisplayName[0] != L'\0')
        return {info.szDisplayName, info.iIcon, GIL_PERINSTANCE | GIL_DONTCACHE};
    return generic_folder_location(path.c_str());
}

// Copies `text` as GetIconLocation's callers expect: cut to size - 1 characters and always terminated;
// a size of 0 leaves the buffer alone, an absurd size (a negative int seen as unsigned) gets a
// terminator only.
void copy_location(std::wstring_view text, wchar_t* buffer, UINT size) noexcept
{
    if (size == 0)
        return;
    if (size > 0x7FFFFFFF)
    {
        buffer[0] = L'\0';
        return;
    }
    const std::size_t length = std::min<std::size_t>(text.size(), size - 1);
    std::wmemcpy(buffer, text.data(), length);
    buffer[length] = L'\0';
}

class icon_handler : public com_object<icon_handler, IExtractIconW>
{
public:
    // IExtractIconW: where the item's icon lives; the shell loads it from there.
    STDMETHODIMP GetIconLocation(UINT flags, PWSTR icon_file, UINT size, int* index, UINT* icon_flags) noexcept override;
    // IExtractIconW: leaves the extraction to the shell (S_FALSE).
    STDMETHODIMP Extract(PCWSTR icon_file, UINT index, HICON* large, HICON* small, UINT sizes) noexcept override;

private:
    friend class com_object<icon_handler, IExtractIconW>;
    icon_handler() noexcept = default;

    HRESULT initialize(PCUITEMID_CHILD item) noexcept
    {
        if (!lock_.initialized())
            return HRESULT_FROM_WIN32(GetLastError());
        if (!own_item_data(item))
            return E_INVALIDARG;
        item_.reset(reinterpret_cast<PITEMID_CHILD>(ILCloneFirst(item)));
        return item_ ? S_OK : E_OUTOFMEMORY;
    }

    // Set once at creation, read-only afterwards: calls need no lock.
    critical_section lock_;
    unique_child_id item_;
};

STDMETHODIMP icon_handler::GetIconLocation(UINT, PWSTR icon_file, UINT size, int* index, UINT* icon_flags) noexcept
{
    if (!icon_file || !index || !icon_flags)
        return E_INVALIDARG;
    const auto* item = own_item_data(item_.get());
    if (!item)
        return E_FAIL;
    return com_boundary("GetIconLocation", [&]() -> HRESULT {
        const icon_location location = folder_item_icon_location(item, process_volume_guard());
        *index = location.index;
        *icon_flags = location.flags;
        copy_location(location.file, icon_file, size);
        return S_OK;
    });
}

STDMETHODIMP icon_handler::Extract(PCWSTR, UINT, HICON* large, HICON* small, UINT) noexcept
{
    if (large)
        *large = nullptr;
    if (small)
        *small = nullptr;
    return S_FALSE;
}
} // namespace

HRESULT create_icon_handler(PCUITEMID_CHILD item, REFIID riid, void** out) noexcept
{
    return icon_handler::create_instance(riid, out, item);
}

std::wstring resolve_icon_path(std::wstring_view icon)
{
    if (is_absolute(icon))
        return std::wstring(icon);
    return join_path(dll_folder(), icon);
}

icon_path_classification icon_path_place_of(std::wstring_view path)
{
    icon_path_classification result;
    const auto on_share = [&](std::wstring_view server_and_share) {
        std::wstring share_path = L"\\\\";
        share_path.append(server_and_share);
        for (auto& c : share_path)
            if (c == L'/')
                c = L'\\';
        // A bare server, or a share without a name, has no volume the guard could ask about.
        if (volume_key(share_path))
        {
            result.place = icon_path_place::share;
            result.share_path = std::move(share_path);
        }
    };
    if (path.size() >= 3 && std::iswalpha(path[0]) && path[1] == L':' && is_separator(path[2]))
        result.place = icon_path_place::local;
    else if (path.size() >= 4 && is_separator(path[0]) &&
             ((is_separator(path[1]) && (path[2] == L'?' || path[2] == L'.')) || (path[1] == L'?' && path[2] == L'?')) &&
             is_separator(path[3]))
    {
        // "\\?\", "\\.\" and "\??\": long, device and object-manager forms of a path.
        const std::wstring_view rest = path.substr(4);
        if (starts_with_drive(rest))
            result.place = icon_path_place::local;
        else if (rest.size() > 4 && starts_with_ignoring_case(rest, L"UNC") && is_separator(rest[3]))
            on_share(rest.substr(4));
    }
    else if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]))
        on_share(path.substr(2));
    return result;
}

icon_location folder_item_icon_location(const search_and_action_item_data* item, volume_guard& guard)
{
    switch (static_cast<item_kind>(item->kind))
    {
    case item_kind::quick_pins_group:
        return group_location(item, guard);
    case item_kind::organized_folder:
    case item_kind::organized_search:
        return configured_location(item, guard);
    default:
        return empty_location();
    }
}
