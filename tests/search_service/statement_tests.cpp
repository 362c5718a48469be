// The stand-in's statements: the SQL its query helper generates from the product's settings, and the
// statements it refuses (DB_E_ERRORSINCOMMAND) as Windows Search would. Which items its WHERE clauses
// select is the product's search tests' (the clauses the product writes) and the demo check's (the
// default configuration's ratings, tags and dates).

#include "standin_client.h"

#include <oledberr.h>

#include <gtest/gtest.h>

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

TEST(where_clause, statements_outside_the_subset_are_errors_in_command)
{
    index_file index("{}");
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
} // namespace
