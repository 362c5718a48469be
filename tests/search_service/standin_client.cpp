#include "standin_client.h"

#include "base/log.h"
#include "support/test_files.h"

namespace search_service_test
{
namespace
{
std::filesystem::path scratch_index_path()
{
    static int counter = 0;
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::filesystem::path(temp) / (L"velmora-search-index-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                          std::to_wstring(++counter) + L".json");
}
} // namespace

index_file::index_file(const std::string& json) : path_(scratch_index_path())
{
    test_support::write_file(path_, json);
    SetEnvironmentVariableW(search_standin_index_variable, path_.c_str());
}

index_file::~index_file()
{
    SetEnvironmentVariableW(search_standin_index_variable, nullptr);
    std::error_code ec;
    std::filesystem::remove(path_, ec);
}

std::string json_string(std::wstring_view text)
{
    std::string result = "\"";
    for (char c : to_utf8(text))
        result += c == '"' || c == '\\' ? std::string{'\\', c} : std::string{c};
    return result + "\"";
}

search_standin_counters standin_counters()
{
    search_standin_counters counters{};
    if (HMODULE dll = GetModuleHandleW(search_standin_dll_name))
        if (auto get = reinterpret_cast<search_standin_get_counters_function>(
                reinterpret_cast<void*>(GetProcAddress(dll, "search_standin_get_counters"))))
            get(&counters);
    return counters;
}

} // namespace search_service_test
