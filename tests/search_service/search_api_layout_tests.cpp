// The declarations of search_api.h against the interface contracts: every method in its vtable slot
// (the search manager is called through the system's proxy, so a swapped pair would call the wrong
// method), and the __uuidof information added for oledb.h's interfaces equal to libuuid's IIDs.

#include "search/search_api.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace
{
// The vtable slot of a virtual method as the compiler lays it out: in the Itanium C++ ABI that mingw-w64
// follows, a pointer to a virtual member function holds 1 plus the method's byte offset in the vtable;
// in its ARM variant (ARM64) it holds the offset itself and marks "virtual" in the adjustment's low bit.
template <class Method>
std::size_t slot_of(Method method)
{
    static_assert(sizeof(Method) == 2 * sizeof(std::ptrdiff_t));
    std::ptrdiff_t words[2] = {};
    std::memcpy(words, &method, sizeof(method));
#if defined(__aarch64__) || defined(__arm__)
    EXPECT_EQ(words[1] & 1, 1) << "not a virtual method";
    return static_cast<std::size_t>(words[0]) / sizeof(void*);
#else
    return static_cast<std::size_t>(words[0] - 1) / sizeof(void*);
#endif
}

#define METHOD(interface, name) std::pair<std::string, std::size_t>(#name, slot_of(&interface::name))

// The methods in the SDK's order; IUnknown's three come first.
void expect_in_order(const std::vector<std::pair<std::string, std::size_t>>& methods)
{
    for (std::size_t i = 0; i < methods.size(); ++i)
    {
        SCOPED_TRACE(methods[i].first);
        EXPECT_EQ(methods[i].second, i + 3);
    }
}

TEST(search_api, methods_sit_in_their_vtable_slots)
{
#define M(name) METHOD(ISearchManager, name)
    expect_in_order({M(GetIndexerVersionStr), M(GetIndexerVersion), M(GetParameter), M(SetParameter), M(get_ProxyName),
                     M(get_BypassList), M(SetProxy), M(GetCatalog), M(get_UserAgent), M(put_UserAgent), M(get_UseProxy),
                     M(get_LocalBypass), M(get_PortNumber)});
#undef M
#define M(name) METHOD(ISearchCatalogManager, name)
    expect_in_order({M(get_Name), M(GetParameter), M(SetParameter), M(GetCatalogStatus), M(Reset), M(Reindex),
                     M(ReindexMatchingURLs), M(ReindexSearchRoot), M(put_ConnectTimeout), M(get_ConnectTimeout),
                     M(put_DataTimeout), M(get_DataTimeout), M(NumberOfItems), M(NumberOfItemsToIndex), M(URLBeingIndexed),
                     M(GetURLIndexingState), M(GetPersistentItemsChangedSink), M(RegisterViewForNotification),
                     M(GetItemsChangedSink), M(UnregisterViewForNotification), M(SetExtensionClusion),
                     M(EnumerateExcludedExtensions), M(GetQueryHelper), M(put_DiacriticSensitivity),
                     M(get_DiacriticSensitivity), M(GetCrawlScopeManager)});
#undef M
#define M(name) METHOD(ISearchQueryHelper, name)
    expect_in_order({M(get_ConnectionString), M(put_QueryContentLocale), M(get_QueryContentLocale),
                     M(put_QueryKeywordLocale), M(get_QueryKeywordLocale), M(put_QueryTermExpansion),
                     M(get_QueryTermExpansion), M(put_QuerySyntax), M(get_QuerySyntax), M(put_QueryContentProperties),
                     M(get_QueryContentProperties), M(put_QuerySelectColumns), M(get_QuerySelectColumns),
                     M(put_QueryWhereRestrictions), M(get_QueryWhereRestrictions), M(put_QuerySorting),
                     M(get_QuerySorting), M(GenerateSQLFromUserQuery), M(WriteProperties), M(put_QueryMaxResults),
                     M(get_QueryMaxResults)});
#undef M
}

TEST(search_api, uuidof_of_ole_db_interfaces_matches_libuuid)
{
    const struct { const char* name; const IID& declared; const IID& library; } rows[] = {
#define ROW(name) {#name, __uuidof(name), IID_##name}
        ROW(IDBInitialize), ROW(IDBProperties), ROW(IDBCreateSession), ROW(IDBCreateCommand), ROW(ICommand),
        ROW(ICommandText), ROW(IRowset), ROW(IAccessor), ROW(IColumnsInfo), ROW(ISearchManager),
        ROW(ISearchCatalogManager), ROW(ISearchQueryHelper),
#undef ROW
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(IsEqualIID(row.declared, row.library));
    }
}
} // namespace
