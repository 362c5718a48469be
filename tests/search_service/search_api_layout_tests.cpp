// The declarations of search_api.h against the interface contracts: every method in its vtable slot
// (the search manager is called through the system's proxy, so a swapped pair would call the wrong
// method), and the __uuidof information added for oledb.h's interfaces equal to libuuid's IIDs.

#include "search/search_api.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
#define RECORDED(name, ...)                                  \
    HRESULT STDMETHODCALLTYPE name(__VA_ARGS__) override     \
    {                                                        \
        last = #name;                                        \
        return S_OK;                                         \
    }

// The three interfaces, each method recording its own name; IUnknown's slots are not called here.
struct recording_base
{
    const char* last = "";
};

#define RECORDING_IUNKNOWN                                                              \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; } \
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }                              \
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

struct recording_manager : ISearchManager, recording_base
{
    RECORDING_IUNKNOWN
    RECORDED(GetIndexerVersionStr, LPWSTR*)
    RECORDED(GetIndexerVersion, DWORD*, DWORD*)
    RECORDED(GetParameter, LPCWSTR, PROPVARIANT**)
    RECORDED(SetParameter, LPCWSTR, const PROPVARIANT*)
    RECORDED(get_ProxyName, LPWSTR*)
    RECORDED(get_BypassList, LPWSTR*)
    RECORDED(SetProxy, PROXY_ACCESS, BOOL, DWORD, LPCWSTR, LPCWSTR)
    RECORDED(GetCatalog, LPCWSTR, ISearchCatalogManager**)
    RECORDED(get_UserAgent, LPWSTR*)
    RECORDED(put_UserAgent, LPCWSTR)
    RECORDED(get_UseProxy, PROXY_ACCESS*)
    RECORDED(get_LocalBypass, BOOL*)
    RECORDED(get_PortNumber, DWORD*)
};

struct recording_catalog : ISearchCatalogManager, recording_base
{
    RECORDING_IUNKNOWN
    RECORDED(get_Name, LPWSTR*)
    RECORDED(GetParameter, LPCWSTR, PROPVARIANT**)
    RECORDED(SetParameter, LPCWSTR, PROPVARIANT*)
    RECORDED(GetCatalogStatus, CatalogStatus*, CatalogPausedReason*)
    RECORDED(Reset)
    RECORDED(Reindex)
    RECORDED(ReindexMatchingURLs, LPCWSTR)
    RECORDED(ReindexSearchRoot, LPCWSTR)
    RECORDED(put_ConnectTimeout, DWORD)
    RECORDED(get_ConnectTimeout, DWORD*)
    RECORDED(put_DataTimeout, DWORD)
    RECORDED(get_DataTimeout, DWORD*)
    RECORDED(NumberOfItems, LONG*)
    RECORDED(NumberOfItemsToIndex, LONG*, LONG*, LONG*)
    RECORDED(URLBeingIndexed, LPWSTR*)
    RECORDED(GetURLIndexingState, LPCWSTR, DWORD*)
    RECORDED(GetPersistentItemsChangedSink, ISearchPersistentItemsChangedSink**)
    RECORDED(RegisterViewForNotification, LPCWSTR, ISearchViewChangedSink*, DWORD*)
    RECORDED(GetItemsChangedSink, ISearchNotifyInlineSite*, REFIID, void**, GUID*, GUID*, DWORD*)
    RECORDED(UnregisterViewForNotification, DWORD)
    RECORDED(SetExtensionClusion, LPCWSTR, BOOL)
    RECORDED(EnumerateExcludedExtensions, IEnumString**)
    RECORDED(GetQueryHelper, ISearchQueryHelper**)
    RECORDED(put_DiacriticSensitivity, BOOL)
    RECORDED(get_DiacriticSensitivity, BOOL*)
    RECORDED(GetCrawlScopeManager, ISearchCrawlScopeManager**)
};

struct recording_helper : ISearchQueryHelper, recording_base
{
    RECORDING_IUNKNOWN
    RECORDED(get_ConnectionString, LPWSTR*)
    RECORDED(put_QueryContentLocale, LCID)
    RECORDED(get_QueryContentLocale, LCID*)
    RECORDED(put_QueryKeywordLocale, LCID)
    RECORDED(get_QueryKeywordLocale, LCID*)
    RECORDED(put_QueryTermExpansion, SEARCH_TERM_EXPANSION)
    RECORDED(get_QueryTermExpansion, SEARCH_TERM_EXPANSION*)
    RECORDED(put_QuerySyntax, SEARCH_QUERY_SYNTAX)
    RECORDED(get_QuerySyntax, SEARCH_QUERY_SYNTAX*)
    RECORDED(put_QueryContentProperties, LPCWSTR)
    RECORDED(get_QueryContentProperties, LPWSTR*)
    RECORDED(put_QuerySelectColumns, LPCWSTR)
    RECORDED(get_QuerySelectColumns, LPWSTR*)
    RECORDED(put_QueryWhereRestrictions, LPCWSTR)
    RECORDED(get_QueryWhereRestrictions, LPWSTR*)
    RECORDED(put_QuerySorting, LPCWSTR)
    RECORDED(get_QuerySorting, LPWSTR*)
    RECORDED(GenerateSQLFromUserQuery, LPCWSTR, LPWSTR*)
    RECORDED(WriteProperties, ITEMID, DWORD, PROPERTYKEY*, SEARCH_COLUMN_PROPERTIES*, FILETIME*)
    RECORDED(put_QueryMaxResults, LONG)
    RECORDED(get_QueryMaxResults, LONG*)
};

// Calls vtable slot `slot` of `object` the way a proxy or another compiler's caller would: by position.
// The recording methods ignore their arguments, so six null ones stand in for any signature.
template <class Interface>
const char* call_slot(Interface* object, recording_base& recorder, std::size_t slot)
{
    using any_method = HRESULT(STDMETHODCALLTYPE*)(void*, void*, void*, void*, void*, void*, void*);
    void** table = *reinterpret_cast<void***>(object);
    recorder.last = "";
    reinterpret_cast<any_method>(table[slot])(object, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    return recorder.last;
}

template <class Interface, class Recorder>
void expect_slots(Recorder& recorder, const std::vector<std::string>& names)
{
    Interface* object = &recorder;
    for (std::size_t i = 0; i < names.size(); ++i)
    {
        SCOPED_TRACE("slot " + std::to_string(i + 3) + " " + names[i]);
        EXPECT_EQ(call_slot(object, recorder, i + 3), names[i]);
    }
}

TEST(search_api, search_manager_methods_sit_in_their_slots)
{
    recording_manager manager;
    expect_slots<ISearchManager>(manager, {"GetIndexerVersionStr", "GetIndexerVersion", "GetParameter", "SetParameter",
                                           "get_ProxyName", "get_BypassList", "SetProxy", "GetCatalog", "get_UserAgent",
                                           "put_UserAgent", "get_UseProxy", "get_LocalBypass", "get_PortNumber"});
}

TEST(search_api, catalog_manager_methods_sit_in_their_slots)
{
    recording_catalog catalog;
    expect_slots<ISearchCatalogManager>(
        catalog, {"get_Name", "GetParameter", "SetParameter", "GetCatalogStatus", "Reset", "Reindex", "ReindexMatchingURLs",
                  "ReindexSearchRoot", "put_ConnectTimeout", "get_ConnectTimeout", "put_DataTimeout", "get_DataTimeout",
                  "NumberOfItems", "NumberOfItemsToIndex", "URLBeingIndexed", "GetURLIndexingState",
                  "GetPersistentItemsChangedSink", "RegisterViewForNotification", "GetItemsChangedSink",
                  "UnregisterViewForNotification", "SetExtensionClusion", "EnumerateExcludedExtensions", "GetQueryHelper",
                  "put_DiacriticSensitivity", "get_DiacriticSensitivity", "GetCrawlScopeManager"});
}

TEST(search_api, query_helper_methods_sit_in_their_slots)
{
    recording_helper helper;
    expect_slots<ISearchQueryHelper>(
        helper, {"get_ConnectionString", "put_QueryContentLocale", "get_QueryContentLocale", "put_QueryKeywordLocale",
                 "get_QueryKeywordLocale", "put_QueryTermExpansion", "get_QueryTermExpansion", "put_QuerySyntax",
                 "get_QuerySyntax", "put_QueryContentProperties", "get_QueryContentProperties", "put_QuerySelectColumns",
                 "get_QuerySelectColumns", "put_QueryWhereRestrictions", "get_QueryWhereRestrictions", "put_QuerySorting",
                 "get_QuerySorting", "GenerateSQLFromUserQuery", "WriteProperties", "put_QueryMaxResults",
                 "get_QueryMaxResults"});
}

TEST(search_api, uuidof_of_ole_db_interfaces_matches_libuuid)
{
    const struct
    {
        const char* name;
        const IID& declared;
        const IID& library;
    } rows[] = {
        {"IDBInitialize", __uuidof(IDBInitialize), IID_IDBInitialize},
        {"IDBProperties", __uuidof(IDBProperties), IID_IDBProperties},
        {"IDBCreateSession", __uuidof(IDBCreateSession), IID_IDBCreateSession},
        {"IDBCreateCommand", __uuidof(IDBCreateCommand), IID_IDBCreateCommand},
        {"ICommand", __uuidof(ICommand), IID_ICommand},
        {"ICommandText", __uuidof(ICommandText), IID_ICommandText},
        {"IRowset", __uuidof(IRowset), IID_IRowset},
        {"IAccessor", __uuidof(IAccessor), IID_IAccessor},
        {"IColumnsInfo", __uuidof(IColumnsInfo), IID_IColumnsInfo},
        {"ISearchManager", __uuidof(ISearchManager), IID_ISearchManager},
        {"ISearchCatalogManager", __uuidof(ISearchCatalogManager), IID_ISearchCatalogManager},
        {"ISearchQueryHelper", __uuidof(ISearchQueryHelper), IID_ISearchQueryHelper},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(IsEqualIID(row.declared, row.library));
    }
}
} // namespace
