#pragma once
// Creation functions of the stand-in's two classes, called by its class factory.

#include <windows.h>

#include <string>
#include <string_view>

namespace search_standin
{
// CLSID_CSearchManager: reads the index (for its faults), then creates the search manager.
HRESULT create_search_manager(REFIID riid, void** ppv) noexcept;
// CLSID_CollatorDataSource: reads the index, then creates an uninitialised OLE DB data source.
HRESULT create_data_source(REFIID riid, void** ppv) noexcept;

// What a query helper holds; GenerateSQLFromUserQuery turns it into a statement.
struct query_helper_settings
{
    LCID content_locale = 0;
    LCID keyword_locale = 0;
    int term_expansion = 1;  // SEARCH_TERM_PREFIX_ALL
    int query_syntax = 1;    // SEARCH_ADVANCED_QUERY_SYNTAX
    std::wstring content_properties;
    std::wstring select_columns;  // empty: System.ItemUrl
    std::wstring where_restrictions;
    std::wstring sorting;
    long max_results = -1;
};

// The statement for a user query. Throws std::invalid_argument when a column list is malformed.
std::wstring generate_sql(const query_helper_settings& settings, std::wstring_view user_query);
} // namespace search_standin
