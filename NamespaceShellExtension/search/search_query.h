#pragma once
// One Windows Search query, run synchronously: the search manager's "SystemIndex" catalog builds the SQL
// statement through its query helper, and the OLE DB provider "Search.CollatorDSO" runs it. Nothing of
// the search service is part of this program; it is reached only through these documented interfaces.

#include "search/search_result_record.h"

#include <windows.h>
#include <oaidl.h>
#include <oledb.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The query helper's settings.
inline constexpr long search_max_results = 25000;
inline constexpr wchar_t search_select_columns[] =
    L"System.ItemPathDisplay, System.Size, System.ItemType, System.ItemTypeText, System.DateCreated, Path, "
    L"System.ItemPathDisplay, System.ItemNameDisplay, System.Keywords, System.Rating, System.Photo.PeopleNames";
inline constexpr wchar_t search_sorting[] =
    L"System.Search.Rank DESC, System.DateModified DESC, System.ItemNameDisplay ASC";

// The where restrictions handed to the query helper: "AND scope='file:'", then the name pattern ("*" is
// none; "*" and "?" become "%" and "_"), the keyword filter and the configured query, inserted as written:
// a configured query is an index query fragment, not a value to quote.
std::wstring search_where_restrictions(std::wstring_view name_pattern, std::wstring_view query,
                                       std::wstring_view keyword_filter);

// Runs one query on the calling thread, which must have COM initialised. Throws std::runtime_error when
// the index cannot be reached (the search manager, the catalog, the query helper, the statement, the
// provider or its accessor fail). A failure once the provider is open (session, command, execution, any
// row) ends the list early, without an error, with the rows read so far.
std::vector<search_result_record> run_search(std::wstring_view name_pattern, std::wstring_view query,
                                             std::wstring_view keyword_filter);

// The same, handing each row to `on_row` as soon as it is read, in the index's order (`on_row` may take
// the record). An exception from `on_row` ends the search, every row and the accessor given back, and
// leaves run_search.
using search_row_sink = std::function<void(search_result_record&& record)>;
void run_search(std::wstring_view name_pattern, std::wstring_view query, std::wstring_view keyword_filter,
                const search_row_sink& on_row);

// A multi-valued column (System.Keywords, System.Photo.PeopleNames) as its list of non-empty strings:
// nothing unless the status is OK; one entry for a non-empty VT_BSTR; every non-empty element of a
// VT_ARRAY | VT_BSTR from its lower to its upper bound; nothing for any other type.
std::vector<std::wstring> read_multi_valued_column(DBSTATUS status, const VARIANT& value);
