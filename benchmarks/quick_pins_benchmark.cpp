// Listing a group of 200 pins (the most a listing reads), against the least any listing of shortcuts
// costs: loading the same 200 shortcut files with the shell's link object and reading their paths. The
// listing adds the folder enumeration, the volume guard and an attribute read per target, the names and
// the sort.

#include "benchmark_support.h"

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

    std::filesystem::remove_all(root, ec);
    CoUninitialize();
    return 0;
}
