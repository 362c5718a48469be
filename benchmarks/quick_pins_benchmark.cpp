// Listing a group of 200 pins (the most a listing reads), against the least any listing of shortcuts
// costs: loading the same 200 shortcut files with the shell's link object and reading their paths. The
// listing adds the folder enumeration, the volume guard and an attribute read per target, the names and
// the sort.
//
// Dropping 200 files (the most a drop pins) onto an empty group, against the store's pin_items of the
// same 200 paths alone. The drop adds reading the file list from the data object that the real folder
// made for the files, and the change notification for the group.

#include "benchmark_support.h"

#include "quick_pins/quick_pins_drop_target.h"
#include "quick_pins/quick_pins_store.h"
#include "quick_pins/shell_link.h"

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace
{
volatile std::size_t sink;

std::size_t load_links_alone(const std::vector<std::wstring>& links)
{
    std::size_t found = 0;
    for (const auto& file : links)
    {
        IShellLinkW* link = nullptr;
        if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                    reinterpret_cast<void**>(&link))))
            continue;
        IPersistFile* persist = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist))))
        {
            wchar_t path[MAX_PATH] = {};
            if (SUCCEEDED(persist->Load(file.c_str(), STGM_READ)) &&
                SUCCEEDED(link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH)) && path[0])
                ++found;
            persist->Release();
        }
        link->Release();
    }
    return found;
}
// The data object that the real folder holding `names` makes for them, as Explorer's views hand it out.
IDataObject* file_data_object(const std::filesystem::path& folder, const std::vector<std::wstring>& names)
{
    IShellFolder* desktop = nullptr;
    IShellFolder* parent = nullptr;
    PIDLIST_ABSOLUTE folder_list = nullptr;
    IDataObject* data = nullptr;
    std::vector<PITEMID_CHILD> children;
    if (SUCCEEDED(SHGetDesktopFolder(&desktop)) &&
        SUCCEEDED(SHParseDisplayName(folder.c_str(), nullptr, &folder_list, 0, nullptr)) &&
        SUCCEEDED(desktop->BindToObject(folder_list, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&parent))))
    {
        for (std::wstring name : names)
        {
            PIDLIST_RELATIVE child = nullptr;
            if (SUCCEEDED(parent->ParseDisplayName(nullptr, nullptr, name.data(), nullptr, &child, nullptr)))
                children.push_back(reinterpret_cast<PITEMID_CHILD>(child));
        }
        if (children.size() == names.size())
            parent->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()),
                                  const_cast<PCUITEMID_CHILD_ARRAY>(children.data()), IID_IDataObject, nullptr,
                                  reinterpret_cast<void**>(&data));
    }
    for (auto* child : children)
        ILFree(child);
    ILFree(folder_list);
    if (parent)
        parent->Release();
    if (desktop)
        desktop->Release();
    return data;
}

double elapsed_ns(const LARGE_INTEGER& start, const LARGE_INTEGER& stop)
{
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(stop.QuadPart - start.QuadPart) * 1e9 / static_cast<double>(frequency.QuadPart);
}

void remove_pins(const std::wstring& group)
{
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(group, ec))
        std::filesystem::remove(entry.path(), ec);
}

// Each round pins into an emptied group, once by a drop and once through the store; the best of each.
int measure_drop(const std::filesystem::path& root)
{
    const std::filesystem::path targets = root / L"dropped";
    const std::wstring group = (root / L"Drop group").wstring();
    std::filesystem::create_directories(targets);
    std::filesystem::create_directories(group);
    std::vector<std::wstring> names, paths;
    for (int i = 1; i <= 200; ++i)
    {
        names.push_back(L"Photo " + std::to_wstring(i) + L".jpg");
        paths.push_back((targets / names.back()).wstring());
        std::ofstream(std::filesystem::path(paths.back())) << "x";
    }
    IDataObject* data = file_data_object(targets, names);
    PIDLIST_ABSOLUTE group_list = nullptr;
    IDropTarget* target = nullptr;
    if (!data || FAILED(SHParseDisplayName(group.c_str(), nullptr, &group_list, 0, nullptr)) ||
        FAILED(create_quick_pins_drop_target(group, group_list, IID_IDropTarget, reinterpret_cast<void**>(&target))))
    {
        std::printf("no data object or drop target for the 200 files; nothing to measure\n");
        return 1;
    }

    double drop_ns = 1e300;
    double store_ns = 1e300;
    const auto time_drop = [&] {
        remove_pins(group);
        LARGE_INTEGER start{}, stop{};
        DWORD effect = DROPEFFECT_COPY;
        QueryPerformanceCounter(&start);
        const HRESULT dropped = target->Drop(data, 0, {}, &effect);
        QueryPerformanceCounter(&stop);
        drop_ns = std::min(drop_ns, elapsed_ns(start, stop));
        return dropped == S_OK && list_group_entries(group).size() == 200;
    };
    const auto time_store = [&] {
        remove_pins(group);
        LARGE_INTEGER start{}, stop{};
        QueryPerformanceCounter(&start);
        const auto pinned = pin_items(group, paths);
        QueryPerformanceCounter(&stop);
        store_ns = std::min(store_ns, elapsed_ns(start, stop));
        return pinned == std::optional<std::size_t>(200);
    };
    // Each goes first in every other round, so that neither always follows the other's clean-up.
    for (int round = 0; round < 6; ++round)
    {
        if (!(round % 2 ? time_store() && time_drop() : time_drop() && time_store()))
        {
            std::printf("the drop or pin_items did not pin the 200 files\n");
            return 1;
        }
    }
    benchmark_support::print_ratio("Drop of 200 files onto an empty group", drop_ns, "pin_items of the 200 paths alone",
                                   store_ns);
    target->Release();
    data->Release();
    ILFree(group_list);
    return 0;
}
} // namespace

int main()
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;

    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::filesystem::path root = std::filesystem::path(temp) / L"velmora-quick-pins-benchmark";
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    const std::filesystem::path targets = root / L"targets";
    const std::wstring group = (root / L"Group").wstring();
    std::filesystem::create_directories(targets);
    std::filesystem::create_directories(group);

    // Numbered pins, as users order them, so that the sort has real work.
    std::vector<std::wstring> links;
    for (int i = 1; i <= 200; ++i)
    {
        const std::wstring target = (targets / (L"Document " + std::to_wstring(i) + L".txt")).wstring();
        std::ofstream(std::filesystem::path(target)) << "x";
        links.push_back(group + L"\\" + std::to_wstring(201 - i) + L". Document " + std::to_wstring(i) + L".txt.lnk");
        if (!write_shortcut(links.back(), target))
        {
            std::printf("could not write %ls\n", links.back().c_str());
            return 1;
        }
    }

    if (list_group_entries(group).size() != 200 || load_links_alone(links) != 200)
    {
        std::printf("the group does not list its 200 pins; nothing to measure\n");
        return 1;
    }

    // Rounds alternate between the two, so that a burst of load on the shared machine hits both alike.
    double listing_ns = 1e300;
    double links_ns = 1e300;
    for (int round = 0; round < 9; ++round)
    {
        listing_ns = std::min(listing_ns, benchmark_support::nanoseconds_per_call(
                                              [&] { sink = sink + list_group_entries(group).size(); }, 2, 1));
        links_ns = std::min(links_ns, benchmark_support::nanoseconds_per_call(
                                          [&] { sink = sink + load_links_alone(links); }, 2, 1));
    }
    benchmark_support::print_ratio("list_group_entries, 200 pins", listing_ns, "load 200 shortcuts alone", links_ns);
    const int drop_result = measure_drop(root);

    std::filesystem::remove_all(root, ec);
    CoUninitialize();
    return drop_result;
}
