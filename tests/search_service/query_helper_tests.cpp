// The stand-in's search manager, catalog and query helper: the statement GenerateSQLFromUserQuery
// builds from the helper's settings, reached through CoCreateInstance as the product reaches it.

#include "standin_client.h"

#include <gtest/gtest.h>

#include <optional>

namespace
{
using namespace search_service_test;

com_ptr<ISearchQueryHelper> new_helper()
{
    com_ptr<ISearchManager> manager;
    com_ptr<ISearchCatalogManager> catalog;
    com_ptr<ISearchQueryHelper> helper;
    if (FAILED(CoCreateInstance(CLSID_CSearchManager, nullptr, CLSCTX_ALL, IID_ISearchManager, manager.put_void())) ||
        FAILED(manager->GetCatalog(L"SystemIndex", catalog.put())) || FAILED(catalog->GetQueryHelper(helper.put())))
        return {};
    return helper;
}

struct helper_row
{
    const char* name;
    std::optional<LONG> max_results;
    const wchar_t* columns;  // null: not set
    const wchar_t* where;
    const wchar_t* sorting;
    std::optional<SEARCH_TERM_EXPANSION> expansion;
    const wchar_t* content_properties;
    const wchar_t* user_query;
    HRESULT expected_result;
    const wchar_t* expected_sql;
};

TEST(query_helper, generates_windows_search_sql_from_its_settings)
{
    index_file index("{}");
    const helper_row rows[] = {
        {"the product's statement for a rating query", 25000, product_select_columns,
         L"AND scope='file:' AND (System.Rating >= 63) ", product_sorting, std::nullopt, nullptr, L"*", S_OK,
         L"SELECT TOP 25000 \"System.ItemPathDisplay\", \"System.Size\", \"System.ItemType\", \"System.ItemTypeText\", "
         L"\"System.DateCreated\", \"Path\", \"System.ItemPathDisplay\", \"System.ItemNameDisplay\", \"System.Keywords\", "
         L"\"System.Rating\", \"System.Photo.PeopleNames\" FROM \"SystemIndex\" WHERE scope='file:' AND (System.Rating >= 63) "
         L"ORDER BY \"System.Search.Rank\" DESC, \"System.DateModified\" DESC, \"System.ItemNameDisplay\" ASC"},
        {"nothing set", std::nullopt, nullptr, nullptr, nullptr, std::nullopt, nullptr, L"*", S_OK,
         L"SELECT \"System.ItemUrl\" FROM \"SystemIndex\""},
        {"no TOP for zero", 0, L"System.Size", nullptr, nullptr, std::nullopt, nullptr, L"", S_OK,
         L"SELECT \"System.Size\" FROM \"SystemIndex\""},
        {"no TOP for -1", -1, L"\"System.Size\"", nullptr, L"\"System.Size\"", std::nullopt, nullptr, L"*", S_OK,
         L"SELECT \"System.Size\" FROM \"SystemIndex\" ORDER BY \"System.Size\""},
        {"a leading OR goes when there is no user predicate", 3, L"Path", L"  or System.Size > 1", L"Path desc", std::nullopt,
         nullptr, L"*", S_OK, L"SELECT TOP 3 \"Path\" FROM \"SystemIndex\" WHERE System.Size > 1 ORDER BY \"Path\" DESC"},
        {"user terms become prefix CONTAINS", std::nullopt, L"Path", L"AND System.Rating > 1", nullptr, std::nullopt, nullptr,
         L"annual \"q1 report\"", S_OK,
         L"SELECT \"Path\" FROM \"SystemIndex\" WHERE (CONTAINS(*,'\"annual*\"',1033) AND CONTAINS(*,'\"q1 report*\"',1033)) "
         L"AND System.Rating > 1"},
        {"no expansion, quote doubled", std::nullopt, L"Path", nullptr, nullptr, SEARCH_TERM_NO_EXPANSION, nullptr, L"o'brien",
         S_OK, L"SELECT \"Path\" FROM \"SystemIndex\" WHERE (CONTAINS(*,'\"o''brien\"',1033))"},
        {"content properties restrict the terms", std::nullopt, L"Path", nullptr, nullptr, SEARCH_TERM_NO_EXPANSION,
         L"System.Keywords, System.ItemNameDisplay", L"tax", S_OK,
         L"SELECT \"Path\" FROM \"SystemIndex\" WHERE ((CONTAINS(\"System.Keywords\",'\"tax\"',1033) OR "
         L"CONTAINS(\"System.ItemNameDisplay\",'\"tax\"',1033)))"},
        {"empty column in the list", std::nullopt, L"System.Size,,Path", nullptr, nullptr, std::nullopt, nullptr, L"*",
         E_INVALIDARG, nullptr},
        {"column starting with a digit", std::nullopt, L"1System", nullptr, nullptr, std::nullopt, nullptr, L"*", E_INVALIDARG,
         nullptr},
        {"unknown sort direction", std::nullopt, L"Path", nullptr, L"Path SIDEWAYS", std::nullopt, nullptr, L"*", E_INVALIDARG,
         nullptr},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        auto helper = new_helper();
        ASSERT_TRUE(helper);
        helper->put_QueryContentLocale(1033);
        if (row.max_results)
        {
            EXPECT_EQ(helper->put_QueryMaxResults(*row.max_results), S_OK);
        }
        if (row.columns)
        {
            EXPECT_EQ(helper->put_QuerySelectColumns(row.columns), S_OK);
        }
        if (row.where)
        {
            EXPECT_EQ(helper->put_QueryWhereRestrictions(row.where), S_OK);
        }
        if (row.sorting)
        {
            EXPECT_EQ(helper->put_QuerySorting(row.sorting), S_OK);
        }
        if (row.expansion)
        {
            EXPECT_EQ(helper->put_QueryTermExpansion(*row.expansion), S_OK);
        }
        if (row.content_properties)
        {
            EXPECT_EQ(helper->put_QueryContentProperties(row.content_properties), S_OK);
        }
        unique_cotaskmem_string sql;
        EXPECT_EQ(helper->GenerateSQLFromUserQuery(row.user_query, sql.put()), row.expected_result);
        if (row.expected_sql)
        {
            EXPECT_STREQ(sql.get(), row.expected_sql);
        }
        else
        {
            EXPECT_EQ(sql.get(), nullptr);
        }
    }
}

// The statement the helper writes must be one the provider answers, whatever the user query.
TEST(query_helper, generated_statements_run_on_the_provider)
{
    index_file index(R"({"items": [
        {"path": "C:\\G\\annual report.docx", "rating": 75, "size": 1, "keywords": ["finance"]},
        {"path": "C:\\G\\beach.jpg", "rating": 99, "size": 2, "contents": "annual holiday"},
        {"path": "D:\\other\\annual.txt", "rating": 75, "size": 3}]})");
    const struct
    {
        const wchar_t* user_query;
        const wchar_t* where;
        std::vector<std::wstring> expected;
    } rows[] = {
        {L"*", L"AND SCOPE='file:C:/G'", {L"C:\\G\\annual report.docx", L"C:\\G\\beach.jpg"}},
        {L"annual", L"AND System.Rating = 75", {L"C:\\G\\annual report.docx", L"D:\\other\\annual.txt"}},
        {L"ann", L"AND SCOPE='file:C:/G'", {L"C:\\G\\annual report.docx", L"C:\\G\\beach.jpg"}},
        {L"finance annual", nullptr, {L"C:\\G\\annual report.docx"}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(testing::Message() << "user query " << testing::PrintToString(std::wstring(row.user_query)));
        auto helper = new_helper();
        ASSERT_TRUE(helper);
        helper->put_QuerySelectColumns(L"System.ItemPathDisplay");
        helper->put_QuerySorting(L"System.Size");
        if (row.where)
            helper->put_QueryWhereRestrictions(row.where);
        unique_cotaskmem_string sql;
        ASSERT_EQ(helper->GenerateSQLFromUserQuery(row.user_query, sql.put()), S_OK);
        const auto result = run_statement(sql.get());
        EXPECT_EQ(result.result, S_OK) << testing::PrintToString(std::wstring(sql.get()));
        EXPECT_EQ(result.values, row.expected);
    }
}

TEST(query_helper, only_the_system_index_catalog_exists)
{
    index_file index("{}");
    com_ptr<ISearchManager> manager;
    ASSERT_EQ(CoCreateInstance(CLSID_CSearchManager, nullptr, CLSCTX_ALL, IID_ISearchManager, manager.put_void()), S_OK);
    com_ptr<ISearchCatalogManager> catalog;
    EXPECT_EQ(manager->GetCatalog(L"OtherIndex", catalog.put()), E_INVALIDARG);
    EXPECT_FALSE(catalog);
    EXPECT_EQ(manager->GetCatalog(nullptr, catalog.put()), E_INVALIDARG);
    EXPECT_EQ(manager->GetCatalog(L"systemindex", catalog.put()), S_OK);
}
} // namespace
