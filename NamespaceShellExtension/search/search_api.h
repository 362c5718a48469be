#pragma once
// Windows Search declarations that the mingw-w64 headers lack: there is no searchapi.h, so the search
// manager, its catalog manager and the query helper are declared here, with their enumerations, class
// identifiers and the property keys propkey.h leaves out. The vtable order is the interface's contract
// (the search manager is a local server reached through the system's proxy), so each method sits in
// exactly the slot the SDK's MIDL output gives it; the slot number is noted on every line.
//
// The OLE DB part of oledb.h is complete except that no import library defines DBGUID_DEFAULT and that
// its interfaces carry no __uuidof information; both gaps are filled at the end of this file.

#include <windows.h>
#include <objbase.h>
#include <oaidl.h>
#include <propidl.h>
#include <wtypes.h>
#include <oledb.h>

// The catalog of the system index, for ISearchManager::GetCatalog.
inline constexpr wchar_t search_system_index_catalog[] = L"SystemIndex";
// The OLE DB provider's program id, for CLSIDFromProgID.
inline constexpr wchar_t search_provider_prog_id[] = L"Search.CollatorDSO";

typedef enum _PROXY_ACCESS
{
    PROXY_ACCESS_PRECONFIG = 0,
    PROXY_ACCESS_DIRECT = 1,
    PROXY_ACCESS_PROXY = 2
} PROXY_ACCESS;

typedef enum _CatalogStatus
{
    CATALOG_STATUS_IDLE = 0,
    CATALOG_STATUS_PAUSED = 1,
    CATALOG_STATUS_RECOVERING = 2,
    CATALOG_STATUS_FULL_CRAWL = 3,
    CATALOG_STATUS_INCREMENTAL_CRAWL = 4,
    CATALOG_STATUS_PROCESSING_NOTIFICATIONS = 5,
    CATALOG_STATUS_SHUTTING_DOWN = 6
} CatalogStatus;

typedef enum _CatalogPausedReason
{
    CATALOG_PAUSED_REASON_NONE = 0,
    CATALOG_PAUSED_REASON_HIGH_IO = 1,
    CATALOG_PAUSED_REASON_HIGH_CPU = 2,
    CATALOG_PAUSED_REASON_HIGH_NTF_RATE = 3,
    CATALOG_PAUSED_REASON_LOW_BATTERY = 4,
    CATALOG_PAUSED_REASON_LOW_MEMORY = 5,
    CATALOG_PAUSED_REASON_LOW_DISK = 6,
    CATALOG_PAUSED_REASON_DELAYED_RECOVERY = 7,
    CATALOG_PAUSED_REASON_USER_ACTIVE = 8,
    CATALOG_PAUSED_REASON_EXTERNAL = 9,
    CATALOG_PAUSED_REASON_UPGRADING = 10
} CatalogPausedReason;

typedef enum _SEARCH_TERM_EXPANSION
{
    SEARCH_TERM_NO_EXPANSION = 0,
    SEARCH_TERM_PREFIX_ALL = 1,
    SEARCH_TERM_STEM_ALL = 2
} SEARCH_TERM_EXPANSION;

typedef enum _SEARCH_QUERY_SYNTAX
{
    SEARCH_NO_QUERY_SYNTAX = 0,
    SEARCH_ADVANCED_QUERY_SYNTAX = 1,
    SEARCH_NATURAL_QUERY_SYNTAX = 2
} SEARCH_QUERY_SYNTAX;

typedef LONG ITEMID;

typedef struct _SEARCH_COLUMN_PROPERTIES
{
    PROPVARIANT Value;
    LCID lcid;
} SEARCH_COLUMN_PROPERTIES;

// Enumerations cross the proxy as 4-byte values; a wider enum would shift every later argument.
static_assert(sizeof(PROXY_ACCESS) == 4 && sizeof(CatalogStatus) == 4 && sizeof(CatalogPausedReason) == 4 &&
              sizeof(SEARCH_TERM_EXPANSION) == 4 && sizeof(SEARCH_QUERY_SYNTAX) == 4 && sizeof(ITEMID) == 4);

// Interfaces that are only passed through, never called: declared, never defined.
struct ISearchPersistentItemsChangedSink;
struct ISearchViewChangedSink;
struct ISearchNotifyInlineSite;
struct ISearchCrawlScopeManager;
struct ISearchCatalogManager;
struct ISearchQueryHelper;

// {AB310581-AC80-11D1-8DF3-00C04FB6EF63}
MIDL_INTERFACE("AB310581-AC80-11D1-8DF3-00C04FB6EF63")
ISearchQueryHelper : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE get_ConnectionString(LPWSTR* connection_string) = 0;    // 3
    virtual HRESULT STDMETHODCALLTYPE put_QueryContentLocale(LCID lcid) = 0;                   // 4
    virtual HRESULT STDMETHODCALLTYPE get_QueryContentLocale(LCID* lcid) = 0;                  // 5
    virtual HRESULT STDMETHODCALLTYPE put_QueryKeywordLocale(LCID lcid) = 0;                   // 6
    virtual HRESULT STDMETHODCALLTYPE get_QueryKeywordLocale(LCID* lcid) = 0;                  // 7
    virtual HRESULT STDMETHODCALLTYPE put_QueryTermExpansion(SEARCH_TERM_EXPANSION expansion) = 0;   // 8
    virtual HRESULT STDMETHODCALLTYPE get_QueryTermExpansion(SEARCH_TERM_EXPANSION* expansion) = 0;  // 9
    virtual HRESULT STDMETHODCALLTYPE put_QuerySyntax(SEARCH_QUERY_SYNTAX syntax) = 0;         // 10
    virtual HRESULT STDMETHODCALLTYPE get_QuerySyntax(SEARCH_QUERY_SYNTAX* syntax) = 0;        // 11
    virtual HRESULT STDMETHODCALLTYPE put_QueryContentProperties(LPCWSTR properties) = 0;      // 12
    virtual HRESULT STDMETHODCALLTYPE get_QueryContentProperties(LPWSTR* properties) = 0;     // 13
    virtual HRESULT STDMETHODCALLTYPE put_QuerySelectColumns(LPCWSTR columns) = 0;             // 14
    virtual HRESULT STDMETHODCALLTYPE get_QuerySelectColumns(LPWSTR* columns) = 0;            // 15
    virtual HRESULT STDMETHODCALLTYPE put_QueryWhereRestrictions(LPCWSTR restrictions) = 0;    // 16
    virtual HRESULT STDMETHODCALLTYPE get_QueryWhereRestrictions(LPWSTR* restrictions) = 0;   // 17
    virtual HRESULT STDMETHODCALLTYPE put_QuerySorting(LPCWSTR sorting) = 0;                   // 18
    virtual HRESULT STDMETHODCALLTYPE get_QuerySorting(LPWSTR* sorting) = 0;                  // 19
    virtual HRESULT STDMETHODCALLTYPE GenerateSQLFromUserQuery(LPCWSTR query, LPWSTR* sql) = 0;   // 20
    virtual HRESULT STDMETHODCALLTYPE WriteProperties(ITEMID item, DWORD count, PROPERTYKEY* columns,
                                                      SEARCH_COLUMN_PROPERTIES* values,
                                                      FILETIME* gather_modified_time) = 0;     // 21
    virtual HRESULT STDMETHODCALLTYPE put_QueryMaxResults(LONG max_results) = 0;               // 22
    virtual HRESULT STDMETHODCALLTYPE get_QueryMaxResults(LONG* max_results) = 0;              // 23
};

// {AB310581-AC80-11D1-8DF3-00C04FB6EF50}
MIDL_INTERFACE("AB310581-AC80-11D1-8DF3-00C04FB6EF50")
ISearchCatalogManager : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE get_Name(LPWSTR* name) = 0;                                      // 3
    virtual HRESULT STDMETHODCALLTYPE GetParameter(LPCWSTR name, PROPVARIANT** value) = 0;             // 4
    virtual HRESULT STDMETHODCALLTYPE SetParameter(LPCWSTR name, PROPVARIANT* value) = 0;              // 5
    virtual HRESULT STDMETHODCALLTYPE GetCatalogStatus(CatalogStatus* status, CatalogPausedReason* reason) = 0;  // 6
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;                                                     // 7
    virtual HRESULT STDMETHODCALLTYPE Reindex() = 0;                                                   // 8
    virtual HRESULT STDMETHODCALLTYPE ReindexMatchingURLs(LPCWSTR pattern) = 0;                        // 9
    virtual HRESULT STDMETHODCALLTYPE ReindexSearchRoot(LPCWSTR root_url) = 0;                         // 10
    virtual HRESULT STDMETHODCALLTYPE put_ConnectTimeout(DWORD seconds) = 0;                           // 11
    virtual HRESULT STDMETHODCALLTYPE get_ConnectTimeout(DWORD* seconds) = 0;                          // 12
    virtual HRESULT STDMETHODCALLTYPE put_DataTimeout(DWORD seconds) = 0;                              // 13
    virtual HRESULT STDMETHODCALLTYPE get_DataTimeout(DWORD* seconds) = 0;                             // 14
    virtual HRESULT STDMETHODCALLTYPE NumberOfItems(LONG* count) = 0;                                  // 15
    virtual HRESULT STDMETHODCALLTYPE NumberOfItemsToIndex(LONG* incremental, LONG* notification_queue,
                                                           LONG* high_priority_queue) = 0;            // 16
    virtual HRESULT STDMETHODCALLTYPE URLBeingIndexed(LPWSTR* url) = 0;                                // 17
    virtual HRESULT STDMETHODCALLTYPE GetURLIndexingState(LPCWSTR url, DWORD* state) = 0;              // 18
    virtual HRESULT STDMETHODCALLTYPE GetPersistentItemsChangedSink(ISearchPersistentItemsChangedSink** sink) = 0;  // 19
    virtual HRESULT STDMETHODCALLTYPE RegisterViewForNotification(LPCWSTR view, ISearchViewChangedSink* sink,
                                                                  DWORD* cookie) = 0;                  // 20
    virtual HRESULT STDMETHODCALLTYPE GetItemsChangedSink(ISearchNotifyInlineSite* site, REFIID riid, void** ppv,
                                                          GUID* catalog_reset_signature,
                                                          GUID* checkpoint_signature,
                                                          DWORD* last_checkpoint) = 0;                 // 21
    virtual HRESULT STDMETHODCALLTYPE UnregisterViewForNotification(DWORD cookie) = 0;                 // 22
    virtual HRESULT STDMETHODCALLTYPE SetExtensionClusion(LPCWSTR extension, BOOL exclude) = 0;        // 23
    virtual HRESULT STDMETHODCALLTYPE EnumerateExcludedExtensions(IEnumString** extensions) = 0;      // 24
    virtual HRESULT STDMETHODCALLTYPE GetQueryHelper(ISearchQueryHelper** helper) = 0;                 // 25
    virtual HRESULT STDMETHODCALLTYPE put_DiacriticSensitivity(BOOL sensitive) = 0;                    // 26
    virtual HRESULT STDMETHODCALLTYPE get_DiacriticSensitivity(BOOL* sensitive) = 0;                   // 27
    virtual HRESULT STDMETHODCALLTYPE GetCrawlScopeManager(ISearchCrawlScopeManager** manager) = 0;    // 28
};

// {AB310581-AC80-11D1-8DF3-00C04FB6EF69}
MIDL_INTERFACE("AB310581-AC80-11D1-8DF3-00C04FB6EF69")
ISearchManager : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE GetIndexerVersionStr(LPWSTR* version) = 0;                  // 3
    virtual HRESULT STDMETHODCALLTYPE GetIndexerVersion(DWORD* major, DWORD* minor) = 0;          // 4
    virtual HRESULT STDMETHODCALLTYPE GetParameter(LPCWSTR name, PROPVARIANT** value) = 0;        // 5
    virtual HRESULT STDMETHODCALLTYPE SetParameter(LPCWSTR name, const PROPVARIANT* value) = 0;   // 6
    virtual HRESULT STDMETHODCALLTYPE get_ProxyName(LPWSTR* proxy_name) = 0;                      // 7
    virtual HRESULT STDMETHODCALLTYPE get_BypassList(LPWSTR* bypass_list) = 0;                    // 8
    virtual HRESULT STDMETHODCALLTYPE SetProxy(PROXY_ACCESS use_proxy, BOOL local_bypass, DWORD port_number,
                                               LPCWSTR proxy_name, LPCWSTR bypass_list) = 0;     // 9
    virtual HRESULT STDMETHODCALLTYPE GetCatalog(LPCWSTR catalog, ISearchCatalogManager** manager) = 0;  // 10
    virtual HRESULT STDMETHODCALLTYPE get_UserAgent(LPWSTR* user_agent) = 0;                      // 11
    virtual HRESULT STDMETHODCALLTYPE put_UserAgent(LPCWSTR user_agent) = 0;                      // 12
    virtual HRESULT STDMETHODCALLTYPE get_UseProxy(PROXY_ACCESS* use_proxy) = 0;                  // 13
    virtual HRESULT STDMETHODCALLTYPE get_LocalBypass(BOOL* local_bypass) = 0;                    // 14
    virtual HRESULT STDMETHODCALLTYPE get_PortNumber(DWORD* port_number) = 0;                     // 15
};

inline constexpr IID IID_ISearchManager = {0xab310581, 0xac80, 0x11d1, {0x8d, 0xf3, 0x00, 0xc0, 0x4f, 0xb6, 0xef, 0x69}};
inline constexpr IID IID_ISearchCatalogManager = {0xab310581, 0xac80, 0x11d1, {0x8d, 0xf3, 0x00, 0xc0, 0x4f, 0xb6, 0xef, 0x50}};
inline constexpr IID IID_ISearchQueryHelper = {0xab310581, 0xac80, 0x11d1, {0x8d, 0xf3, 0x00, 0xc0, 0x4f, 0xb6, 0xef, 0x63}};

// The indexer's search manager (a local server; create with CLSCTX_ALL or CLSCTX_LOCAL_SERVER).
inline constexpr CLSID CLSID_CSearchManager = {0x7d096c5f, 0xac08, 0x4f1f, {0xbe, 0xb7, 0x5c, 0x22, 0xc5, 0x17, 0xce, 0x39}};
// The OLE DB provider "Search.CollatorDSO" (in-process data source answering IDBInitialize). Not to be
// confused with CLSID_FilterRegistration, 9E175B8D-..., one digit away.
inline constexpr CLSID CLSID_CollatorDataSource = {0x9e175b8b, 0xf52a, 0x11d8, {0xb9, 0xa5, 0x50, 0x50, 0x54, 0x50, 0x30, 0x30}};

__CRT_UUID_DECL(ISearchManager, 0xab310581, 0xac80, 0x11d1, 0x8d, 0xf3, 0x00, 0xc0, 0x4f, 0xb6, 0xef, 0x69)
__CRT_UUID_DECL(ISearchCatalogManager, 0xab310581, 0xac80, 0x11d1, 0x8d, 0xf3, 0x00, 0xc0, 0x4f, 0xb6, 0xef, 0x50)
__CRT_UUID_DECL(ISearchQueryHelper, 0xab310581, 0xac80, 0x11d1, 0x8d, 0xf3, 0x00, 0xc0, 0x4f, 0xb6, 0xef, 0x63)

// Property keys propkey.h lacks. The ones it has (PKEY_Keywords, PKEY_Rating, PKEY_DateModified,
// PKEY_DateCreated, PKEY_ItemName, ...) come from there and libuuid.
inline constexpr PROPERTYKEY PKEY_Photo_PeopleNames = {{0xe8309b6e, 0x084c, 0x49b4, {0xb1, 0xfc, 0x90, 0xa8, 0x03, 0x31, 0xb6, 0x38}}, 100};
inline constexpr PROPERTYKEY PKEY_ItemTypeText = {{0xb725f130, 0x47ef, 0x101a, {0xa5, 0xf1, 0x02, 0x60, 0x8c, 0x9e, 0xeb, 0xac}}, 4};
inline constexpr PROPERTYKEY PKEY_ItemNameDisplay = {{0xb725f130, 0x47ef, 0x101a, {0xa5, 0xf1, 0x02, 0x60, 0x8c, 0x9e, 0xeb, 0xac}}, 10};
inline constexpr PROPERTYKEY PKEY_Size = {{0xb725f130, 0x47ef, 0x101a, {0xa5, 0xf1, 0x02, 0x60, 0x8c, 0x9e, 0xeb, 0xac}}, 12};
inline constexpr PROPERTYKEY PKEY_ItemFolderPathDisplay = {{0xe3e0584c, 0xb788, 0x4a5a, {0xbb, 0x20, 0x7f, 0x5a, 0x44, 0xc9, 0xac, 0xdd}}, 6};
inline constexpr PROPERTYKEY PKEY_ItemPathDisplay = {{0xe3e0584c, 0xb788, 0x4a5a, {0xbb, 0x20, 0x7f, 0x5a, 0x44, 0xc9, 0xac, 0xdd}}, 7};
inline constexpr PROPERTYKEY PKEY_ItemUrl = {{0x49691c90, 0x7e17, 0x101a, {0xa9, 0x1c, 0x08, 0x00, 0x2b, 0x2e, 0xcd, 0xa9}}, 9};

// oledb.h declares DBGUID_DEFAULT (the command dialect of ICommandText::SetCommandText) but defines it
// only under DBINITCONSTANTS, and no import library has it. A selectany definition links once however
// many translation units include this header, and merges with a unit that does define DBINITCONSTANTS.
#ifndef DBINITCONSTANTS
extern "C" const GUID DECLSPEC_SELECTANY DBGUID_DEFAULT = {0xc8b521fb, 0x5cf3, 0x11ce, {0xad, 0xe5, 0x00, 0xaa, 0x00, 0x44, 0x77, 0x3d}};
#endif

// oledb.h gives its interfaces no __uuidof information, so com_ptr<IRowset> and IID_PPV_ARGS would not
// link. These are the IIDs libuuid defines (IID_IRowset and so on), for the interfaces a reader walks.
__CRT_UUID_DECL(IDBInitialize, 0x0c733a8b, 0x2a1c, 0x11ce, 0xad, 0xe5, 0x00, 0xaa, 0x00, 0x44, 0x77, 0x3d)
__CRT_UUID_DECL(IDBProperties, 0x0c733a8a, 0x2a1c, 0x11ce, 0xad, 0xe5, 0x00, 0xaa, 0x00, 0x44, 0x77, 0x3d)
__CRT_UUID_DECL(IDBCreateSession, 0x0c733a5d, 0x2a1c, 0x11ce, 0xad, 0xe5, 0x00, 0xaa, 0x00, 0x44, 0x77, 0x3d)
__CRT_UUID_DECL(IDBCreateCommand, 0x0c733a1d, 0x2a1c, 0x11ce, 0xad, 0xe5, 0x00, 0xaa, 0x00, 0x44, 0x77, 0x3d)
__CRT_UUID_DECL(ICommand, 0x0c733a63, 0x2a1c, 0x11ce, 0xad, 0xe5, 0x00, 0xaa, 0x00, 0x44, 0x77, 0x3d)
__CRT_UUID_DECL(ICommandText, 0x0c733a27, 0x2a1c, 0x11ce, 0xad, 0xe5, 0x00, 0xaa, 0x00, 0x44, 0x77, 0x3d)
__CRT_UUID_DECL(IRowset, 0x0c733a7c, 0x2a1c, 0x11ce, 0xad, 0xe5, 0x00, 0xaa, 0x00, 0x44, 0x77, 0x3d)
__CRT_UUID_DECL(IAccessor, 0x0c733a8c, 0x2a1c, 0x11ce, 0xad, 0xe5, 0x00, 0xaa, 0x00, 0x44, 0x77, 0x3d)
__CRT_UUID_DECL(IColumnsInfo, 0x0c733a11, 0x2a1c, 0x11ce, 0xad, 0xe5, 0x00, 0xaa, 0x00, 0x44, 0x77, 0x3d)
