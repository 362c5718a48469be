#pragma once
// Drives the registered search stand-in: an index file for this process, and the stand-in's counters of
// the objects, rows and accessors a reader took and gave back.

#include "base/raii.h"
#include "search/search_api.h"
#include "search_standin_counters.h"

#include <windows.h>
#include <oledb.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace search_service_test
{
// An index file in a scratch folder, named by VELMORA_SEARCH_INDEX for this process while it lives.
class index_file
{
public:
    explicit index_file(const std::string& json);
    ~index_file();
    index_file(const index_file&) = delete;
    index_file& operator=(const index_file&) = delete;

private:
    std::filesystem::path path_;
};

// A JSON string literal (quotes included) for UTF-16 text.
std::string json_string(std::wstring_view text);

// The stand-in's exported counters (the DLL must be loaded).
search_standin_counters standin_counters();
} // namespace search_service_test
