// How names on disk become what Explorer shows, and how group and pin names become file names.

#include "quick_pins/pin_names.h"

#include "base/log.h"

#include <gtest/gtest.h>

namespace
{
TEST(pin_names, order_prefix_and_display_name)
{
    const struct
    {
        const wchar_t* name;
        bool is_folder;
        const wchar_t* without_prefix;
        const wchar_t* pin_display; // files only
    } rows[] = {
        {L"1. Reports.lnk", false, L"Reports.lnk", L"Reports"},
        {L"2 Invoices.lnk", false, L"Invoices.lnk", L"Invoices"},
        {L"3.Budget.xlsx.lnk", false, L"Budget.xlsx.lnk", L"Budget.xlsx"},
        {L"4 .x.lnk", false, L"x.lnk", L"x"},
        {L"5..lnk", false, L".lnk", L""},
        {L"6  two blanks.lnk", false, L" two blanks.lnk", L" two blanks"},
        {L"12ab.lnk", false, L"ab.lnk", L"ab"},
        {L"a.url.lnk", false, L"a.url.lnk", L"a"},
        {L"x.LNK.lnk.Url", false, L"x.LNK.lnk.Url", L"x"},
        {L"report.txt", false, L"report.txt", L"report.txt"},
        {L"a.txt (2).lnk", false, L"a.txt (2).lnk", L"a.txt (2)"},
        // The part before the last dot is only digits: the number is the name.
        {L"007.lnk", false, L"007.lnk", L"007"},
        {L"2024.05", false, L"2024.05", L"2024.05"},
        {L"10. Archive", false, L"10. Archive", L"10. Archive"},
        {L"\x0663. Arabic digit.lnk", false, L"\x0663. Arabic digit.lnk", L"\x0663. Arabic digit"},
        // Folders: the same rule, except that a folder whose digits-only part ends at a dot loses it.
        {L"10. Archive", true, L"Archive", nullptr},
        {L"2024", true, L"2024", nullptr},
        {L"2024.05", true, L"05", nullptr},
        {L"1.2.3", true, L"2.3", nullptr},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(to_utf8(row.name) + (row.is_folder ? " (folder)" : " (file)"));
        EXPECT_EQ(std::wstring(without_order_prefix(row.name, row.is_folder)), row.without_prefix);
        if (row.pin_display)
        {
            EXPECT_EQ(pin_display_name(row.name), row.pin_display);
        }
    }
}

TEST(pin_names, separators)
{
    const struct { const wchar_t* name; bool is_folder; bool separator; } rows[] = {
        {L"Separator.lnk", false, true}, {L"4. separator.url", false, true}, {L"---.lnk", false, true},
        {L"SEPARATOR", true, true},      {L"2. ---", true, true},            {L"Separator.a.lnk", false, false},
        {L"Separators.lnk", false, false}, {L"--x.lnk", false, false},       {L".lnk", false, false},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(to_utf8(row.name));
        EXPECT_EQ(is_separator_name(row.name, row.is_folder), row.separator);
    }
}

TEST(pin_names, group_folder_and_pin_file_names)
{
    const struct { const wchar_t* group; const wchar_t* folder; } groups[] = {
        {L"A/B:C", L"A_B_C"}, {L"\"*<>?\\|", L"_______"}, {L"   ", L"Pins"}, {L"...", L"Pins"},
        {L"Trailing. . ", L"Trailing"}, {L"  Leading", L"  Leading"},
        // Control characters stay in group names (the model reader refuses them anyway).
        {L"a\tb", L"a\tb"},
    };
    for (const auto& row : groups)
    {
        SCOPED_TRACE(to_utf8(row.group));
        EXPECT_EQ(sanitized_group_folder_name(row.group), row.folder);
    }

    const struct { const wchar_t* path; const wchar_t* name; } pins[] = {
        {L"C:\\Data\\a.txt", L"a.txt"}, {L"D:\\", L"D__"},       {L"C:\\Data\\a\tb\x1f?.txt", L"a_b__.txt"},
        {L"C:\\Data\\x. . ", L"x"},     {L"C:\\Data\\...", L"Pin"}, {L"", L"Pin"},
    };
    for (const auto& row : pins)
    {
        SCOPED_TRACE(to_utf8(row.path));
        EXPECT_EQ(sanitized_pin_name(row.path), row.name);
    }
}

TEST(pin_names, extension_for_renaming)
{
    EXPECT_EQ(pin_file_extension(L"a.b.URL"), L".URL");
    EXPECT_EQ(pin_file_extension(L"a.lnk:stream"), L".lnk");
    EXPECT_EQ(pin_file_extension(L"a:stream.x"), L"");
    EXPECT_EQ(pin_file_extension(L"noextension"), L"");
}
} // namespace
