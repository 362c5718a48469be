// The path cache: one parse per path whatever its letter case, a fresh copy for every caller, the
// parser's own failure for a path that does not exist.

#include "namespace/path_cache.h"

#include "module/raii.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <shlobj.h>

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
}

TEST(path_cache, refuses_a_missing_out_pointer)
{
    EXPECT_EQ(E_POINTER, path_cache_lookup(L"C:\\windows", nullptr));
}
