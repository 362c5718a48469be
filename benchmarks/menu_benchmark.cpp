// The result-item menu against the real file system's own objects for the same file.
//   GetUIObjectOf(IContextMenu) of a result whose path the path cache knows (and whose real parent the
//   folder has bound before), and releasing the menu,
//   against the real parent folder's own GetUIObjectOf(IContextMenu) for the file (parent bound once).
//   QueryContextMenu of the wrapped menu (verb discovery, "Open File Location" placed) against the real
//   menu's QueryContextMenu alone, each into a fresh popup menu.

#include "benchmark_support.h"

#include "base/raii.h"
#include "items/search_and_action_item_data.h"
#include "namespace/search_and_action_shell_folder.h"

#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace
{
volatile ULONG_PTR sink;

unique_absolute_id_list root_id_list()
{
    constexpr USHORT size = 2 + 2 + sizeof(CLSID);
    auto* memory = static_cast<std::uint8_t*>(CoTaskMemAlloc(size + 2));
    std::memset(memory, 0, size + 2);
    std::memcpy(memory, &size, 2);
    memory[2] = 0x1F;
    memory[3] = 0x50;
    std::memcpy(memory + 4, &CLSID_search_and_action_shell_folder, sizeof(CLSID));
    return unique_absolute_id_list(reinterpret_cast<PIDLIST_ABSOLUTE>(memory));
}

template <class Body>
double per_call(Body&& body, int iterations)
{
    return benchmark_support::nanoseconds_per_call(std::forward<Body>(body), iterations, 1);
}
} // namespace

int main()
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const auto folder_path = std::filesystem::temp_directory_path() / L"velmora-menu-benchmark";
    std::filesystem::create_directories(folder_path);
    const auto file = folder_path / L"report.txt";
    std::ofstream(file) << "x";

    int status = 1;
    {
        com_ptr<search_and_action_shell_folder> folder;
        const auto root = root_id_list();
        const auto item = create_result_item(file.wstring(), {}, {});
        unique_absolute_id_list file_list;
        com_ptr<IShellFolder> parent;
        PCUITEMID_CHILD last = nullptr;
        if (FAILED(search_and_action_shell_folder::create_folder(false, folder.put())) ||
            FAILED(folder->Initialize(root.get())) || !item ||
            FAILED(SHParseDisplayName(file.c_str(), nullptr, file_list.put(), 0, nullptr)) ||
            FAILED(SHBindToParent(file_list.get(), IID_IShellFolder, parent.put_void(), &last)))
        {
            std::printf("menu_benchmark: cannot set up the folder and the file\n");
            return 1;
        }
        PCUITEMID_CHILD ours[] = {item.get()};
        const auto wrapped_menu = [&] {
            com_ptr<IContextMenu> menu;
            folder->GetUIObjectOf(nullptr, 1, ours, IID_IContextMenu, nullptr, menu.put_void());
            sink = reinterpret_cast<ULONG_PTR>(menu.get());
        };
        const auto real_menu = [&] {
            com_ptr<IContextMenu> menu;
            parent->GetUIObjectOf(nullptr, 1, &last, IID_IContextMenu, nullptr, menu.put_void());
            sink = reinterpret_cast<ULONG_PTR>(menu.get());
        };
        wrapped_menu(); // the path cache learns the path

        com_ptr<IContextMenu> wrapped, real;
        folder->GetUIObjectOf(nullptr, 1, ours, IID_IContextMenu, nullptr, wrapped.put_void());
        parent->GetUIObjectOf(nullptr, 1, &last, IID_IContextMenu, nullptr, real.put_void());
        const auto query = [](IContextMenu* menu) {
            return [menu] {
                HMENU popup = CreatePopupMenu();
                sink = static_cast<ULONG_PTR>(menu->QueryContextMenu(popup, 0, 1, 0x7FFF, CMF_NORMAL));
                DestroyMenu(popup);
            };
        };

        // Interleaved rounds: a burst of noise lands on both figures alike.
        constexpr int iterations = 400;
        double wrapped_get = 1e300, real_get = 1e300, wrapped_query = 1e300, real_query = 1e300;
        for (int round = 0; round < 15; ++round)
        {
            // Either side goes first in turn.
            for (int side = 0; side < 2; ++side)
                if ((side + round) % 2 == 0)
                {
                    wrapped_get = std::min(wrapped_get, per_call(wrapped_menu, iterations));
                    wrapped_query = std::min(wrapped_query, per_call(query(wrapped.get()), iterations));
                }
                else
                {
                    real_get = std::min(real_get, per_call(real_menu, iterations));
                    real_query = std::min(real_query, per_call(query(real.get()), iterations));
                }
        }
        benchmark_support::print_ratio("GetUIObjectOf(IContextMenu), warm path cache", wrapped_get,
                                       "real parent's GetUIObjectOf", real_get);
        benchmark_support::print_ratio("QueryContextMenu, wrapped menu", wrapped_query, "real menu's QueryContextMenu",
                                       real_query);
        status = 0;
    }
    std::error_code ec;
    std::filesystem::remove_all(folder_path, ec);
    CoUninitialize();
    return status;
}
