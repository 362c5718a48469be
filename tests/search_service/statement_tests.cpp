// The stand-in's statements: the SQL its query helper generates from the helper's settings, which items
// each WHERE clause of the supported subset selects and in which order, and which statements it refuses
// (DB_E_ERRORSINCOMMAND), on a fixed index of five files.

#include "standin_client.h"

#include <oledberr.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace
{
using namespace search_service_test;

com_ptr<ISearchQueryHelper> new_helper(const wchar_t* catalog_name = L"SystemIndex", HRESULT expected = S_OK)
{
    com_ptr<ISearchManager> manager;
    com_ptr<ISearchCatalogManager> catalog;
    com_ptr<ISearchQueryHelper> helper;
    EXPECT_EQ(CoCreateInstance(CLSID_CSearchManager, nullptr, CLSCTX_ALL, IID_ISearchManager, manager.put_void()), S_OK);
    EXPECT_EQ(manager->GetCatalog(catalog_name, catalog.put()), expected);
    if (catalog)
        catalog->GetQueryHelper(helper.put());
    return helper;
}

TEST(query_helper, generates_windows_search_sql_from_its_settings)
{
    index_file index("{}");
    const struct
    {
        const char* name;
        std::optional<LONG> max_results;
        const wchar_t* columns; // null: not set
        const wchar_t* where;
        const wchar_t* sorting;
        const wchar_t* user_query;
        HRESULT expected_result;
        const wchar_t* expected_sql;
    } rows[] = {
        {"the product's statement for a rating query", 25000,
         L"System.ItemPathDisplay, System.Size, System.ItemType, System.ItemTypeText, System.DateCreated, Path, "
         L"System.ItemPathDisplay, System.ItemNameDisplay, System.Keywords, System.Rating, System.Photo.PeopleNames",
         L"AND scope='file:' AND (System.Rating >= 63) ",
         L"System.Search.Rank DESC, System.DateModified DESC, System.ItemNameDisplay ASC", L"*", S_OK,
         L"SELECT TOP 25000 \"System.ItemPathDisplay\", \"System.Size\", \"System.ItemType\", \"System.ItemTypeText\", "
         L"\"System.DateCreated\", \"Path\", \"System.ItemPathDisplay\", \"System.ItemNameDisplay\", \"System.Keywords\", "
         L"\"System.Rating\", \"System.Photo.PeopleNames\" FROM \"SystemIndex\" WHERE scope='file:' AND (System.Rating >= 63) "
         L"ORDER BY \"System.Search.Rank\" DESC, \"System.DateModified\" DESC, \"System.ItemNameDisplay\" ASC"},
        {"a leading OR goes when there is no user predicate", 3, L"Path", L"  or System.Size > 1", L"Path desc", L"*", S_OK,
         L"SELECT TOP 3 \"Path\" FROM \"SystemIndex\" WHERE System.Size > 1 ORDER BY \"Path\" DESC"},
        {"empty column in the list", std::nullopt, L"System.Size,,Path", nullptr, nullptr, L"*", E_INVALIDARG, nullptr},
        {"unknown sort direction", std::nullopt, L"Path", nullptr, L"Path SIDEWAYS", L"*", E_INVALIDARG, nullptr},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        auto helper = new_helper();
        ASSERT_TRUE(helper);
        helper->put_QueryContentLocale(1033);
        EXPECT_EQ(row.max_results ? helper->put_QueryMaxResults(*row.max_results) : S_OK, S_OK);
        EXPECT_EQ(row.columns ? helper->put_QuerySelectColumns(row.columns) : S_OK, S_OK);
        EXPECT_EQ(row.where ? helper->put_QueryWhereRestrictions(row.where) : S_OK, S_OK);
        EXPECT_EQ(row.sorting ? helper->put_QuerySorting(row.sorting) : S_OK, S_OK);
        unique_cotaskmem_string sql;
        EXPECT_EQ(helper->GenerateSQLFromUserQuery(row.user_query, sql.put()), row.expected_result);
        EXPECT_EQ(sql ? std::wstring(sql.get()) : L"(null)", row.expected_sql ? row.expected_sql : L"(null)");
    }
    // Only the system index exists, in any case.
    EXPECT_FALSE(new_helper(L"OtherIndex", E_INVALIDARG));
    EXPECT_TRUE(new_helper(L"systemindex"));
}

// a..e; d has empty lists and no rating, e has no lists at all.
constexpr char five_items[] = R"({"items": [
    {"path": "C:\\W\\Reports\\annual report.docx", "type": "Microsoft Word Document", "keywords": ["finance", "2024"],
     "people": ["Ann Lee"], "rating": 75, "size": 2048, "date_created": "2024-03-01 10:00:00",
     "date_modified": "2024-03-02 00:00:00"},
    {"path": "C:/W/Reports/Q1/budget_q1.xlsx", "type": "Microsoft Excel Worksheet", "keywords": ["finance"], "people": null,
     "rating": 50, "size": 4096, "date_created": "2024/01/15 08:30:00", "date_modified": "2024-03-02 00:00:00"},
    {"path": "C:\\W\\Photos\\beach.jpg", "type": "JPEG image", "keywords": ["holiday", "beach"],
     "people": ["Ann Lee", "Ben Ross"], "rating": 99, "size": 1000000, "date_created": "2023-07-04 12:00:00",
     "date_modified": "2024-03-02 00:00:00"},
    {"path": "C:\\W\\Photos\\it's 100%.png", "type": "PNG image", "keywords": [], "people": [], "rating": null, "size": 10,
     "date_created": "2022-12-31 23:59:59", "date_modified": "2023-01-01 00:00:00", "contents": "the quick brown fox"},
    {"path": "C:\\W\\notes.txt", "type": "Text Document", "rating": 1, "size": 0, "date_created": "2024-06-01 00:00:00",
     "date_modified": "2024-06-01 00:00:00", "contents": "meeting notes about the budget"}]})";

std::vector<std::wstring> names(std::initializer_list<const wchar_t*> list)
{
    std::vector<std::wstring> result(list.begin(), list.end());
    std::sort(result.begin(), result.end());
    return result;
}

std::vector<std::wstring> select_names(const std::wstring& where)
{
    const auto result = run_statement(L"SELECT \"System.ItemNameDisplay\" FROM \"SystemIndex\" WHERE " + where);
    EXPECT_EQ(result.result, S_OK) << testing::PrintToString(where);
    auto values = result.values();
    std::sort(values.begin(), values.end());
    return values;
}

constexpr const wchar_t* a = L"annual report.docx";
constexpr const wchar_t* b = L"budget_q1.xlsx";
constexpr const wchar_t* c = L"beach.jpg";
constexpr const wchar_t* d = L"it's 100%.png";
constexpr const wchar_t* e = L"notes.txt";

TEST(where_clause, selects_the_items_the_predicate_holds_for)
{
    index_file index(five_items);
    const struct { const wchar_t* where; std::vector<std::wstring> expected; } rows[] = {
        {L"SCOPE='file:'", names({a, b, c, d, e})},
        {L"SCOPE='file:c:/w/reports/'", names({a, b})},
        {L"SCOPE='file:C:/W/Rep'", names({})},
        {L"System.Rating >= 63", names({a, c})},
        {L"System.Rating IS NULL", names({d})},
        {L"NOT System.Rating >= 50", names({e})},
        {L"System.Keywords = 'FINANCE'", names({a, b})},
        {L"System.Keywords IS NULL", names({e})},
        {L"CONTAINS(System.Keywords, '\"holi*\"')", names({c})},
        {L"CONTAINS(*, 'budget')", names({b, e})},
        {L"Contains(System.ItemPathDisplay, 'notes')", names({e})},
        {L"System.ItemNameDisplay LIKE '%.j_g'", names({c})},
        {L"System.ItemNameDisplay LIKE '%[%]%'", names({d})},
        {L"System.ItemNameDisplay LIKE 'it''s%'", names({d})},
        {L"System.ItemPathDisplay LIKE 'c:\\w\\photos\\%'", names({c, d})},
        {L"(System.Rating >= 75 OR System.Size < 100) AND NOT System.ItemTypeText = 'PNG image'", names({a, c, e})},
        {L"System.Rating >= 50 OR System.Rating IS NULL AND System.Size = 10", names({a, b, c, d})},
        {L"\"System.ItemTypeText\" = 'jpeg IMAGE'", names({c})},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.where)));
        EXPECT_EQ(select_names(row.where), row.expected);
    }
}

// The forms the default configuration's "Recent files" searches use (the type condition holds for
// every file), against dates an hour, a day less a minute, three days, twenty days and fourteen months
// old, and other units.
TEST(where_clause, date_functions_count_back_from_the_query_time)
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const auto ago = [&](long long seconds) {
        const std::uint64_t ticks = ((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) -
                                    static_cast<std::uint64_t>(seconds) * 10'000'000ull;
        const FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
        SYSTEMTIME parts{};
        FileTimeToSystemTime(&time, &parts);
        char text[32] = {};
        std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u", parts.wYear, parts.wMonth, parts.wDay,
                      parts.wHour, parts.wMinute, parts.wSecond);
        return std::string(text);
    };
    constexpr long long hour = 3600, day = 24 * hour;
    // Written with a minute's margin: the statement runs a little after these dates were taken.
    const std::pair<const char*, long long> items[] = {
        {"hour.txt", hour}, {"day.txt", day - 60}, {"three days.txt", 3 * day}, {"twenty days.txt", 20 * day},
        {"fourteen months.txt", 425 * day}};
    std::string json = R"({"items": [)";
    for (const auto& [name, age] : items)
        json += std::string(json.back() == '[' ? "" : ", ") + R"({"path": "C:\\R\\)" + name + R"(", "date_modified": ")" +
                ago(age) + "\"}";
    json += "]}";
    index_file index(json);
    const struct { const wchar_t* where; std::vector<std::wstring> expected; } rows[] = {
        {L"System.DateModified >= DATEADD(HOUR, -24, GETGMTDATE()) AND System.ItemType <> 'Directory'",
         names({L"hour.txt", L"day.txt"})},
        {L"System.DateModified >= DATEADD(DAY, -7, GETGMTDATE())",
         names({L"hour.txt", L"day.txt", L"three days.txt"})},
        {L"System.DateModified >= DATEADD(day, -30, GetGmtDate())",
         names({L"hour.txt", L"day.txt", L"three days.txt", L"twenty days.txt"})},
        {L"System.DateModified < DATEADD(HOUR, -2, GETGMTDATE())",
         names({L"three days.txt", L"twenty days.txt", L"fourteen months.txt", L"day.txt"})},
        {L"System.DateModified >= DATEADD(QUARTER, -5, GETGMTDATE())",
         names({L"hour.txt", L"day.txt", L"three days.txt", L"twenty days.txt", L"fourteen months.txt"})},
        {L"System.DateModified > DATEADD(MINUTE, 1, GETGMTDATE()) OR System.DateModified > DATEADD(SECOND, 5, "
         L"'2030-01-01 00:00:00')",
         names({})},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.where)));
        EXPECT_EQ(select_names(row.where), row.expected);
    }
}

TEST(where_clause, statements_outside_the_subset_are_errors_in_command)
{
    index_file index(five_items);
    const wchar_t* const rows[] = {
        L"SELECT System.Nope FROM SystemIndex",
        L"SELECT Path FROM SystemIndex WHERE System.Nope = 1",
        L"SELECT Path FROM SystemIndex WHERE System.DateCreated > 'yesterday'",
        L"SELECT Path FROM SystemIndex WHERE (System.Rating > 1",
        L"SELECT Path FROM SystemIndex WHERE System.Rating >",
        L"SELECT Path FROM SystemIndex WHERE System.ItemTypeText = 'open",
        L"SELECT Path FROM SystemIndex WHERE CONTAINS(*, '')",
        L"SELECT Path FROM SystemIndex WHERE System.DateModified >= DATEADD(FORTNIGHT, -1, GETGMTDATE())",
        L"SELECT Path FROM SystemIndex WHERE System.DateModified >= DATEADD(DAY, -1.5, GETGMTDATE())",
        L"SELECT Path FROM SystemIndex WHERE System.DateModified >= DATEADD(DAY, -1, GETDATE())",
        L"SELECT Path FROM SystemIndex WHERE System.DateModified >= DATEADD(DAY, -1, GETGMTDATE()",
        L"SELECT Path FROM \"OtherIndex\"",
        L"SELECT TOP -1 Path FROM SystemIndex",
        L"SELECT Path FROM SystemIndex GROUP ON System.Kind",
    };
    for (const wchar_t* sql : rows)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(sql)));
        EXPECT_EQ(run_statement(sql).result, DB_E_ERRORSINCOMMAND);
    }
}

TEST(where_clause, orders_by_each_key_in_turn_and_keeps_top_n)
{
    index_file index(five_items);
    const struct { const wchar_t* sql; std::vector<std::wstring> expected; } rows[] = {
        // A missing value sorts last descending.
        {L"SELECT System.ItemNameDisplay FROM SystemIndex ORDER BY System.Rating DESC", {c, a, b, e, d}},
        // Equal modification dates fall back to the name, case-insensitively.
        {L"SELECT System.ItemNameDisplay FROM SystemIndex ORDER BY System.Search.Rank DESC, System.DateModified DESC, "
         L"System.ItemNameDisplay ASC",
         {e, a, c, b, d}},
        {L"SELECT TOP 2 System.ItemNameDisplay FROM SystemIndex ORDER BY System.Size DESC", {c, b}},
        // A list sorts by its first element; empty and missing lists first.
        {L"SELECT System.ItemNameDisplay FROM SystemIndex ORDER BY System.Keywords, System.ItemNameDisplay", {d, e, a, b, c}},
        // Without ORDER BY the index's own order.
        {L"SELECT System.ItemNameDisplay FROM SystemIndex", {a, b, c, d, e}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.sql)));
        const auto result = run_statement(row.sql);
        EXPECT_EQ(result.result, S_OK);
        EXPECT_EQ(result.values(), row.expected);
    }
}
} // namespace
