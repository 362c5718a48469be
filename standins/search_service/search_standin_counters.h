#pragma once
// Counters the search stand-in exports for tests: whether a reader released every row handle and
// accessor it obtained, and how much it fetched. Read them through GetProcAddress on the loaded
// stand-in (it is loaded once CoCreateInstance has created one of its objects):
//
//   auto get = reinterpret_cast<search_standin_get_counters_function>(
//       GetProcAddress(GetModuleHandleW(L"velmora_search_standin.dll"), "search_standin_get_counters"));
//
// All counts are cumulative since the DLL was loaded, except the two "live" ones.

#include <windows.h>

struct search_standin_counters
{
    LONG live_objects;        // COM objects of the stand-in alive now (what DllCanUnloadNow looks at)
    LONG server_locks;        // IClassFactory::LockServer(TRUE) not yet undone
    LONG indexes_loaded;      // index files read (one per created search manager and data source)
    LONG executes;            // ICommand::Execute calls that produced a rowset
    LONG rows_obtained;       // row handles handed out by GetNextRows
    LONG rows_released;       // row handles whose reference count fell to zero through ReleaseRows
    LONG accessors_created;   // accessors handed out by CreateAccessor
    LONG accessors_released;  // accessors whose reference count fell to zero through ReleaseAccessor
    LONG get_data_calls;      // IRowset::GetData calls that reached the row
};

extern "C" typedef HRESULT(STDAPICALLTYPE* search_standin_get_counters_function)(search_standin_counters* counters);

// The name of the stand-in DLL and of its environment variable naming the index file.
inline constexpr wchar_t search_standin_dll_name[] = L"velmora_search_standin.dll";
inline constexpr wchar_t search_standin_index_variable[] = L"VELMORA_SEARCH_INDEX";
