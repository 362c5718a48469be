// What the stand-in's query helper refuses, so that a product test cannot pass on settings Windows Search
// would not take: malformed columns or sorting, and another catalog. What it answers is the product's
// search tests' and the demo check's.

#include "standin_client.h"

#include <gtest/gtest.h>

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

TEST(query_helper, refuses_malformed_columns_and_sorting_and_other_catalogs)
{
    index_file index("{}");
    const struct { const wchar_t* columns; const wchar_t* sorting; } rows[] = {
        {L"System.Size,,Path", nullptr},
        {L"Path", L"Path SIDEWAYS"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.columns)));
        auto helper = new_helper();
        ASSERT_TRUE(helper);
        EXPECT_EQ(helper->put_QuerySelectColumns(row.columns), S_OK);
        EXPECT_EQ(row.sorting ? helper->put_QuerySorting(row.sorting) : S_OK, S_OK);
        unique_cotaskmem_string sql;
        EXPECT_EQ(helper->GenerateSQLFromUserQuery(L"*", sql.put()), E_INVALIDARG);
        EXPECT_FALSE(sql);
    }
    // Only the system index exists, in any case.
    EXPECT_FALSE(new_helper(L"OtherIndex", E_INVALIDARG));
    EXPECT_TRUE(new_helper(L"systemindex"));
}
} // namespace
