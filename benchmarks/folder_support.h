#pragma once
// What the benchmarks that list through the folder objects share: the prefix's settings folder and a
// namespace configuration written into it, root and bound folders made as Explorer makes them, a
// listing as Explorer's view fetches it, and the process's peak working set.

#include "base/raii.h"
#include "namespace/search_and_action_shell_folder.h"

#include <windows.h>
#include <knownfolders.h>
#include <psapi.h>
#include <shlobj.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace folder_support
{
inline constexpr ULONG batch_size = 100;
inline constexpr SHCONTF view_flags = SHCONTF_FOLDERS | SHCONTF_NONFOLDERS;
inline constexpr wchar_t main_root[] = L"::{249AE234-08DF-4686-AAF3-5D80A15493BE}";
inline constexpr wchar_t quick_pins_root[] = L"::{EA1CD75E-C7FD-4FF7-B0A1-22FE9B594A6E}";

inline std::filesystem::path settings_folder()
{
    unique_cotaskmem_string local;
    SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, local.put());
    return std::filesystem::path(local.get()) / L"Quenbrook" / L"Velmora" / L"Settings";
}

// The settings files go; they seed again from their defaults when next loaded.
inline void remove_configuration()
{
    std::error_code ec;
    for (const auto* name : {L"Namespace.json", L"All Tags.json", L"All People.json"})
        std::filesystem::remove(settings_folder() / name, ec);
}

// One organised folder "Pictures" with one saved search "This year" of `query` (ASCII, no quotes).
inline void write_saved_search(const std::wstring& query)
{
    std::filesystem::create_directories(settings_folder());
    std::ofstream file(settings_folder() / L"Namespace.json", std::ios::binary | std::ios::trunc);
    std::string text;
    for (const wchar_t c : query)
        text += static_cast<char>(c);
    file << R"({"version": "1.0", "folders": [{"name": "Pictures", "queries": [{"name": "This year", "query": ")" << text
         << R"("}]}]})";
}

// A root folder as Explorer makes it: created by its class and initialised with the root's ID list.
inline com_ptr<IShellFolder> root_folder(bool is_quick_pins)
{
    com_ptr<search_and_action_shell_folder> folder;
    unique_absolute_id_list id_list;
    if (FAILED(search_and_action_shell_folder::create_folder(is_quick_pins, folder.put())) ||
        FAILED(SHParseDisplayName(is_quick_pins ? quick_pins_root : main_root, nullptr, id_list.put(), 0, nullptr)) ||
        FAILED(folder->Initialize(id_list.get())))
        return {};
    return com_ptr<IShellFolder>(static_cast<IShellFolder*>(static_cast<IShellFolder2*>(folder.get())));
}

// The folder below `root` that a display name relative to it names, bound as Explorer binds it.
inline com_ptr<IShellFolder> bound_folder(IShellFolder* root, const std::wstring& relative_name)
{
    std::wstring name = relative_name;
    unique_relative_id_list id_list;
    ULONG eaten = 0;
    com_ptr<IShellFolder> folder;
    if (FAILED(root->ParseDisplayName(nullptr, nullptr, name.data(), &eaten, id_list.put(), nullptr)) ||
        FAILED(root->BindToObject(id_list.get(), nullptr, IID_IShellFolder, folder.put_void())))
        return {};
    return folder;
}

// Everything the folder lists with the view's flags, fetched as Explorer fetches it (Next in batches of
// 100, the items kept until the listing is complete, as the view keeps them); -1 on failure.
// `after_first_batch`, when given, is called once the first batch is there.
template <class AfterFirstBatch>
long long list_all(IShellFolder* folder, AfterFirstBatch&& after_first_batch)
{
    com_ptr<IEnumIDList> enumerator;
    if (FAILED(folder->EnumObjects(nullptr, view_flags, enumerator.put())) || !enumerator)
        return -1;
    std::vector<unique_child_id> items;
    for (bool first = true;; first = false)
    {
        PITEMID_CHILD batch[batch_size] = {};
        ULONG fetched = 0;
        const HRESULT hr = enumerator->Next(batch_size, batch, &fetched);
        for (ULONG i = 0; i < std::min(fetched, batch_size); ++i)
            items.emplace_back(batch[i]);
        if (first)
            after_first_batch();
        if (hr != S_OK)
            return FAILED(hr) ? -1 : static_cast<long long>(items.size());
    }
}

inline long long list_all(IShellFolder* folder)
{
    return list_all(folder, [] {});
}

inline double peak_working_set_mib()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PeakWorkingSetSize / 1048576.0;
}
} // namespace folder_support
