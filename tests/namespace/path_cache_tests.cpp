// The path cache: one parse per path whatever its letter case, a fresh copy for every caller, the
// parser's own failure for a path that does not exist. The real-parent cache: which bound folders it
// shares between the threads of Explorer's windows.

#include "items/path_cache.h"
#include "namespace/real_parent_cache.h"

#include "base/raii.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <atomic>
#include <thread>

namespace
{
std::wstring path_of(PCIDLIST_ABSOLUTE list)
{
    wchar_t path[MAX_PATH]{};
    return SHGetPathFromIDListW(list, path) ? std::wstring(path) : std::wstring();
}
} // namespace

TEST(path_cache, answers_copies_of_one_parse_for_every_letter_case)
{
    test_support::scratch_folder folder(L"path cache");
    const auto file = folder.path() / L"Report.txt";
    test_support::write_file(file, "x");
    path_cache_clear();

    unique_absolute_id_list first, second;
    ASSERT_EQ(S_OK, path_cache_lookup(file.wstring(), first.put()));
    std::wstring upper = file.wstring();
    for (auto& c : upper)
        c = static_cast<wchar_t>(towupper(c));
    ASSERT_EQ(S_OK, path_cache_lookup(upper, second.put()));
    EXPECT_EQ(1u, path_cache_size());
    EXPECT_NE(first.get(), second.get());
    EXPECT_EQ(path_of(first.get()), file.wstring());
    EXPECT_TRUE(ILIsEqual(first.get(), second.get()));

    // Once cached, the path is answered even after its file is gone.
    std::filesystem::remove(file);
    unique_absolute_id_list third;
    EXPECT_EQ(S_OK, path_cache_lookup(file.wstring(), third.put()));
    path_cache_clear();
    EXPECT_EQ(0u, path_cache_size());
    EXPECT_TRUE(FAILED(path_cache_lookup(file.wstring(), third.put())));
    EXPECT_FALSE(third);
    EXPECT_EQ(E_POINTER, path_cache_lookup(L"C:\\windows", nullptr));
}

// Each Explorer window runs in a single-threaded apartment of its own: only the file system's own folders
// may go from one to another; any other parent is bound afresh on each thread and never kept.
TEST(real_parent_cache, shares_only_file_system_folders_between_apartments)
{
    test_support::scratch_folder folder(L"real parents");
    const auto file = folder.path() / L"Report.txt";
    test_support::write_file(file, "x");
    clear_real_parents();
    const struct
    {
        const char* name;
        std::wstring path;
        bool shared;
    } rows[] = {
        {"a file, in a file-system folder", file.wstring(), true},
        {"a drive, in the computer folder", L"C:\\", false},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        const auto item = create_pin_item_from_parts(row.path, L"pin", L"");
        unique_absolute_id_list list;
        ASSERT_EQ(S_OK, SHParseDisplayName(row.path.c_str(), nullptr, list.put(), 0, nullptr));
        // The threads bind one after the other, and hold their folders until both have bound, so that no
        // address is reused.
        struct bound
        {
            const void* folder = nullptr;
            const void* item_folder = nullptr;
            bool file_system = false;
        } seen[2];
        std::atomic<int> arrived{0};
        auto bind_in_apartment = [&](int turn, bound& out) {
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            while (arrived.load() < turn)
                Sleep(1);
            {
                com_ptr<IShellFolder> parent;
                PCUITEMID_CHILD last = nullptr;
                std::shared_ptr<const real_parent_of_item> of_item;
                if (SUCCEEDED(bind_real_parent(list.get(), parent, last)) &&
                    SUCCEEDED(bind_real_parent_of_item("test", own_item_data(item.get()), of_item)))
                {
                    out.folder = parent.get();
                    out.item_folder = of_item->folder.get();
                    out.file_system = is_file_system_folder(parent.get());
                }
                ++arrived;
                while (arrived.load() < 2)
                    Sleep(1);
            }
            CoUninitialize();
        };
        std::thread first(bind_in_apartment, 0, std::ref(seen[0]));
        std::thread second(bind_in_apartment, 1, std::ref(seen[1]));
        first.join();
        second.join();
        ASSERT_NE(seen[0].folder, nullptr);
        ASSERT_NE(seen[1].folder, nullptr);
        EXPECT_EQ(seen[0].file_system, row.shared);
        EXPECT_EQ(seen[0].folder == seen[1].folder, row.shared);
        EXPECT_EQ(seen[0].item_folder == seen[1].item_folder, row.shared);
        EXPECT_EQ(real_parent_folder_count(), 1u) << "the one file-system folder";
    }
    clear_real_parents();
    EXPECT_EQ(real_parent_folder_count(), 0u);
}
