// The quick pins store, reading side: groups from Menuwright's model and the entries of group folders.

#include "quick_pins/quick_pins_store.h"

#include "base/module_folder.h"
#include "quick_pins/folder_enumeration.h"
#include "quick_pins/menuwright_model.h"
#include "quick_pins/pin_names.h"
#include "quick_pins/shell_link.h"
#include "quick_pins/variable_resolution.h"

#include <objbase.h>
#include <shlwapi.h>

#include <algorithm>

namespace
{
// The module that holds this code: the DLL in Explorer, the executable in tests. "$VLM_Directory" in a
// group's folder stands for its folder.
HMODULE this_module() noexcept
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&this_module), &module);
    return module;
}

// A listing may run on a thread of Explorer's that never initialised COM; it balances only its own
// successful initialisation, so a thread already in the multi-threaded apartment is left as it was.
class com_for_this_call
{
public:
    com_for_this_call() noexcept : initialized_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~com_for_this_call()
    {
        if (initialized_)
            CoUninitialize();
    }
    com_for_this_call(const com_for_this_call&) = delete;
    com_for_this_call& operator=(const com_for_this_call&) = delete;

private:
    bool initialized_;
};

// The attributes of an existing path on a volume that answers.
std::optional<DWORD> guarded_attributes(const std::wstring& path, volume_guard& guard)
{
    if (!guard.is_responsive(path))
        return std::nullopt;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return std::nullopt;
    return attributes;
}

bool has_extension(std::wstring_view name, std::wstring_view extension) noexcept
{
    return name.size() >= extension.size() &&
           equal_ignoring_case(name.substr(name.size() - extension.size()), extension);
}

std::wstring last_component(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

struct found_entry
{
    quick_pin_entry entry;
    // The name on disk, with order prefix and extension: what the order is made of.
    std::wstring file_name;
};

// The entry for one name found in a group folder; nothing when it is not listed.
std::optional<found_entry> make_entry(const std::wstring& folder, const WIN32_FIND_DATAW& found, volume_guard& guard)
{
    const std::wstring_view name = found.cFileName;
    const bool is_folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (is_separator_name(name, is_folder))
        return std::nullopt;

    found_entry result;
    result.file_name = name;
    quick_pin_entry& entry = result.entry;
    entry.link_path = join_path(folder, name);
    if (is_folder)
    {
        entry.display_name = without_order_prefix(name, true);
        entry.target_path = entry.link_path;
        entry.is_group = true;
        entry.target_is_folder = true;
    }
    else if (has_extension(name, L".lnk"))
    {
        entry.target_path = read_link_target(entry.link_path);
        if (entry.target_path.empty())
            return std::nullopt;
        // A pin whose target vanished, or lies on a share that stopped answering, is not listed; its
        // shortcut stays in the folder and shows again once the target is back.
        const auto attributes = guarded_attributes(entry.target_path, guard);
        if (!attributes)
            return std::nullopt;
        entry.display_name = pin_display_name(name);
        entry.target_is_folder = (*attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    else
    {
        entry.display_name = pin_display_name(name);
        entry.target_path = entry.link_path;
    }

    if (entry.display_name.empty())
        entry.display_name = last_component(entry.target_path);
    if (entry.display_name.empty())
        return std::nullopt;
    return result;
}
} // namespace

std::filesystem::path default_group_folder(std::wstring_view group_name)
{
    return menuwright_data_folder() / L"Quick pins" / sanitized_group_folder_name(group_name);
}

std::vector<quick_pin_group> get_pin_groups(volume_guard& guard)
{
    std::vector<quick_pin_group> groups;
    for (const auto& record : load_pin_group_records())
    {
        if (record.name.empty())
            continue;
        std::wstring folder;
        if (!record.folder.empty())
            folder = resolve_variables(record.folder, this_module(), {}, {});
        if (folder.empty())
            folder = default_group_folder(record.name).wstring();
        const bool known = std::any_of(groups.begin(), groups.end(), [&](const quick_pin_group& group) {
            return equal_ignoring_case(group.folder, folder);
        });
        if (!known)
            groups.push_back({record.name, std::move(folder)});
    }

    if (groups.empty())
        return {{L"Pins", default_group_folder(L"Pins").wstring()}};
    if (groups.size() == 1)
        return groups;

    std::vector<quick_pin_group> present;
    for (const auto& group : groups)
    {
        if (guarded_attributes(group.folder, guard))
            present.push_back(group);
    }
    if (present.empty())
        present.push_back(groups.front());
    return present;
}

std::vector<quick_pin_entry> list_root_entries(volume_guard& guard)
{
    const auto groups = get_pin_groups(guard);
    if (groups.size() == 1)
        return list_group_entries(groups.front().folder, guard);

    std::vector<quick_pin_entry> entries;
    entries.reserve(groups.size());
    for (const auto& group : groups)
        entries.push_back({group.name, group.folder, group.folder, true, true});
    return entries;
}

std::vector<quick_pin_entry> list_group_entries(const std::wstring& folder, volume_guard& guard)
{
    if (folder.empty())
        return {};

    const com_for_this_call com;
    WIN32_FIND_DATAW found{};
    folder_enumeration enumeration(folder, found);
    if (!enumeration)
        return {};

    std::vector<found_entry> listed;
    do
    {
        const std::wstring_view name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const DWORD attributes = found.dwFileAttributes;
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        {
            if (attributes & FILE_ATTRIBUTE_HIDDEN)
                continue;
        }
        else if (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
        {
            continue;
        }
        if (auto entry = make_entry(folder, found, guard))
            listed.push_back(std::move(*entry));
    } while (listed.size() < quick_pins_limits::max_listed_entries && enumeration.next(found));

    std::stable_sort(listed.begin(), listed.end(), [](const found_entry& a, const found_entry& b) {
        if (a.entry.target_is_folder != b.entry.target_is_folder)
            return a.entry.target_is_folder;
        return StrCmpLogicalW(a.file_name.c_str(), b.file_name.c_str()) < 0;
    });

    std::vector<quick_pin_entry> entries;
    entries.reserve(listed.size());
    for (auto& item : listed)
        entries.push_back(std::move(item.entry));
    return entries;
}

bool group_has_folder_pins(const std::wstring& folder, volume_guard& guard)
{
    // There is no cheaper test: a pin's target has to be read to know it is a folder.
    const auto entries = list_group_entries(folder, guard);
    return std::any_of(entries.begin(), entries.end(),
                       [](const quick_pin_entry& entry) { return entry.target_is_folder; });
}
