#include "items/folder_tree.h"

#include "base/log.h"
#include "base/namespace_module.h"
#include "items/configuration_references.h"
#include "items/search_and_action_item_data.h"
#include "quick_pins/quick_pins_store.h"

#include <cstring>
#include <new>

namespace_configuration::namespace_configuration()
    : namespace_file(module_instance), tags(module_instance), people(module_instance)
{
}

std::unique_ptr<namespace_configuration> load_namespace_configuration()
{
    auto configuration = std::make_unique<namespace_configuration>();
    if (!configuration->namespace_file.load(false))
    {
        log_message(log_level::error, L"Failed to load namespace config {}", configuration->namespace_file.full_path());
        return nullptr;
    }
    if (!configuration->tags.load(false))
    {
        log_message(log_level::error, L"Failed to load tags config {}", configuration->tags.full_path());
        return nullptr;
    }
    if (!configuration->people.load(false))
    {
        log_message(log_level::error, L"Failed to load people config {}", configuration->people.full_path());
        return nullptr;
    }
    return configuration;
}

const namespace_settings::folder_record* find_folder_record(const namespace_configuration& configuration,
                                                            std::wstring_view name, bool ignore_case)
{
    for (const auto& folder : configuration.namespace_file.folders())
        if (ignore_case ? equal_ignoring_case(folder.name, name) : folder.name == name)
            return &folder;
    return nullptr;
}

HRESULT list_main_tree(const namespace_configuration& configuration, const std::vector<std::wstring>& names,
                       std::vector<unique_child_id>& items)
{
    const auto& tags = configuration.tags.tags();
    const auto& people = configuration.people.people();
    if (names.empty())
    {
        for (const auto& folder : configuration.namespace_file.folders())
            if (!folder_excluded(folder))
                items.push_back(create_folder_item(folder));
        return S_OK;
    }
    if (names.size() != 1)
        return E_FAIL;
    // Exactly: an ID list made before the folder's name changed case no longer names it.
    const auto* folder = find_folder_record(configuration, names[0], false);
    if (!folder || folder_excluded(*folder))
        return E_FAIL;
    for (const auto& query : folder->queries)
        if (!query_excluded(query, tags.size(), people.size()))
            items.push_back(create_search_item(*folder, query, tags, people));
    return S_OK;
}

const namespace_settings::query_record* find_saved_search(const namespace_configuration& configuration,
                                                          const std::vector<std::wstring>& names)
{
    if (names.size() != 2)
        return nullptr;
    const auto* folder = find_folder_record(configuration, names[0], false);
    // A folder hidden for its "$quick_pins[" searches still runs its saved searches here.
    if (!folder || (folder->enabled && !*folder->enabled))
        return nullptr;
    for (const auto& query : folder->queries)
    {
        if ((query.enabled && !*query.enabled) || query.target)
            continue;
        if (resolve_references(query.name, configuration.tags, configuration.people) == names[1])
            return &query;
    }
    return nullptr;
}

std::vector<unique_child_id> list_quick_pins(const std::wstring& group_path, SHCONTF flags)
{
    const auto entries = group_path.empty() ? list_root_entries() : list_group_entries(group_path);
    std::vector<unique_child_id> items;
    items.reserve(entries.size());
    for (std::size_t position = 0; position < entries.size(); ++position)
    {
        const auto& entry = entries[position];
        if (entry.target_is_folder || (flags & SHCONTF_NONFOLDERS))
            items.push_back(create_pin_item(entry, position));
    }
    return items;
}

std::vector<unique_child_id> resolve_main_tree_names(const namespace_configuration& configuration,
                                                     const std::vector<std::wstring>& names)
{
    std::vector<unique_child_id> items;
    if (names.empty() || names.size() > 2)
        return items;
    const auto* folder = find_folder_record(configuration, names[0], true);
    if (!folder || folder_excluded(*folder))
        return items;
    items.push_back(create_folder_item(*folder));
    if (names.size() == 1)
        return items;
    for (const auto& query : folder->queries)
    {
        if (query_excluded(query, configuration.tags, configuration.people))
            continue;
        if (equal_ignoring_case(resolve_references(query.name, configuration.tags, configuration.people), names[1]))
        {
            items.push_back(create_search_item(*folder, query, configuration.tags.tags(), configuration.people.people()));
            return items;
        }
    }
    return {};
}

std::vector<unique_child_id> resolve_quick_pins_names(const std::vector<std::wstring>& names)
{
    std::vector<unique_child_id> items;
    if (names.empty() || names.size() > max_quick_pins_parse_depth)
        return items;
    auto listing = list_root_entries();
    for (std::size_t level = 0; level < names.size(); ++level)
    {
        std::size_t position = 0;
        while (position < listing.size() && !equal_ignoring_case(listing[position].display_name, names[level]))
            ++position;
        if (position == listing.size())
            return {};
        const auto entry = listing[position];
        items.push_back(create_pin_item(entry, position));
        if (level + 1 == names.size())
            break;
        if (!entry.is_group)
            return {};
        listing = list_group_entries(entry.target_path);
    }
    return items;
}

unique_relative_id_list join_items(const std::vector<unique_child_id>& items, std::size_t first)
{
    std::size_t size = sizeof(USHORT);
    for (std::size_t i = first; i < items.size(); ++i)
        size += item_data_size;
    auto* memory = static_cast<std::uint8_t*>(CoTaskMemAlloc(size));
    if (!memory)
        throw std::bad_alloc();
    std::size_t offset = 0;
    for (std::size_t i = first; i < items.size(); ++i)
    {
        std::memcpy(memory + offset, items[i].get(), item_data_size);
        offset += item_data_size;
    }
    std::memset(memory + offset, 0, sizeof(USHORT));
    return unique_relative_id_list(reinterpret_cast<PIDLIST_RELATIVE>(memory));
}
