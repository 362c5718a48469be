// Faults the index file injects into each step of the product's walk, broken index files, and the
// generated 25,000-row index the search benchmark uses.

#include "standin_client.h"

#include <oledberr.h>

#include <gtest/gtest.h>

#include <chrono>

namespace
{
using namespace search_service_test;

constexpr char three_items[] = R"("items": [{"path": "C:\\f\\1.txt", "size": 1, "date_created": "2024-01-01 00:00:00"},
    {"path": "C:\\f\\2.txt", "size": 2, "date_created": "2024-01-01 00:00:00"},
    {"path": "C:\\f\\3.txt", "size": 3, "date_created": "2024-01-01 00:00:00"}])";

TEST(faults, each_step_of_the_product_walk_fails_as_configured)
{
    const struct
    {
        const char* fault;  // the "faults" member
        const char* failed_step;
        HRESULT result;
        std::size_t rows;  // read before the failure
    } rows[] = {
        {R"("CreateSearchManager": "0x80070005")", "CreateSearchManager", E_ACCESSDENIED, 0},
        {R"("GetCatalog": "0x80040D1A")", "GetCatalog", static_cast<HRESULT>(0x80040D1A), 0},
        {R"("GetQueryHelper": -2147467259)", "GetQueryHelper", E_FAIL, 0},
        {R"("put_QueryWhereRestrictions": "0x80070057")", "put_QueryWhereRestrictions", E_INVALIDARG, 0},
        {R"("GenerateSQLFromUserQuery": "0x80004005")", "GenerateSQLFromUserQuery", E_FAIL, 0},
        {R"("CreateDataSource": "0x80040154")", "CreateDataSource", REGDB_E_CLASSNOTREG, 0},
        {R"("Initialize": "0x80040E4D")", "Initialize", DB_SEC_E_AUTH_FAILED, 0},
        {R"x("QueryInterface(IDBCreateSession)": "0x80004002")x", "QueryInterface(IDBCreateSession)", E_NOINTERFACE, 0},
        {R"("CreateSession": "0x8007000E")", "CreateSession", E_OUTOFMEMORY, 0},
        {R"("CreateCommand": "0x80004005")", "CreateCommand", E_FAIL, 0},
        {R"("SetCommandText": "0x80040E16")", "SetCommandText", DB_E_DIALECTNOTSUPPORTED, 0},
        {R"("Execute": "0x80040E14")", "Execute", DB_E_ERRORSINCOMMAND, 0},
        {R"x("QueryInterface(IAccessor)": "0x80004002")x", "QueryInterface(IAccessor)", E_NOINTERFACE, 0},
        {R"("CreateAccessor": "0x80040E21")", "CreateAccessor", DB_E_ERRORSOCCURRED, 0},
        {R"("GetNextRows": {"hresult": "0x80004005", "after": 2})", "GetNextRows", E_FAIL, 2},
        {R"("GetData": {"hresult": "0x80040E04", "after": 1})", "GetData", DB_E_BADROWHANDLE, 1},
        {R"("GetData": "0x80004005")", "GetData", E_FAIL, 0},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.fault);
        const auto before = standin_counters();
        {
            index_file index(std::string("{") + three_items + R"(, "faults": {)" + row.fault + "}}");
            const auto run = run_like_product(L"");
            EXPECT_EQ(run.failed_step, row.failed_step);
            EXPECT_EQ(run.result, row.result) << std::hex << run.result;
            EXPECT_EQ(run.records.size(), row.rows);
        }
        // A walk that stops early still gives back every object, row and accessor it took.
        const auto after = standin_counters();
        EXPECT_EQ(after.live_objects, 0);
        EXPECT_EQ(after.rows_obtained - before.rows_obtained, after.rows_released - before.rows_released);
        EXPECT_EQ(after.accessors_created - before.accessors_created, after.accessors_released - before.accessors_released);
        EXPECT_EQ(standin_can_unload_now(), S_OK);
    }
}

TEST(faults, a_fault_counts_calls_per_loaded_index)
{
    index_file index(std::string("{") + three_items + R"(, "faults": {"GetNextRows": {"hresult": "0x80004005", "after": 1}}})");
    EXPECT_EQ(run_like_product(L"").records.size(), 1u);
    // The next search creates a new data source, which reads the index afresh.
    EXPECT_EQ(run_like_product(L"").records.size(), 1u);
}

TEST(faults, broken_index_files_make_creation_fail_with_invalid_data)
{
    const struct
    {
        const char* name;
        const char* json;
        const wchar_t* description_part;
    } rows[] = {
        {"not JSON", R"({"items": [)", L"not JSON"},
        {"unknown fault", R"({"faults": {"Bogus": "0x80004005"}})", L"faults.Bogus"},
        {"unknown member", R"({"itemz": []})", L"itemz"},
        {"item without path", R"({"items": [{"type": "x"}]})", L"items[0]"},
        {"rating not a number", R"({"items": [{"path": "C:\\a", "rating": "five"}]})", L"items[0].rating"},
        {"bad date", R"({"items": [{"path": "C:\\a", "date_created": "2024-02-30 00:00:00"}]})", L"items[0].date_created"},
        {"keyword not a string", R"({"items": [{"path": "C:\\a", "keywords": ["a", 1]}]})", L"items[0].keywords"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        index_file index(row.json);
        com_ptr<IDBInitialize> initialize;
        EXPECT_EQ(CoCreateInstance(CLSID_CollatorDataSource, nullptr, CLSCTX_ALL, IID_IDBInitialize, initialize.put_void()),
                  HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
        com_ptr<IErrorInfo> error;
        ASSERT_EQ(GetErrorInfo(0, error.put()), S_OK);
        BSTR description = nullptr;
        ASSERT_EQ(error->GetDescription(&description), S_OK);
        EXPECT_NE(std::wstring(description).find(row.description_part), std::wstring::npos) << testing::PrintToString(std::wstring(description));
        SysFreeString(description);
        com_ptr<ISearchManager> manager;
        EXPECT_EQ(CoCreateInstance(CLSID_CSearchManager, nullptr, CLSCTX_ALL, IID_ISearchManager, manager.put_void()),
                  HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    }
    EXPECT_EQ(standin_can_unload_now(), S_OK);
}

TEST(faults, no_configured_index_is_an_empty_index)
{
    SetEnvironmentVariableW(search_standin_index_variable, nullptr);
    const auto run = run_like_product(L"");
    EXPECT_EQ(run.failed_step, "");
    EXPECT_TRUE(run.records.empty());
}

// The benchmark's index: 25,000 generated rows, no files behind them, newest modification first.
TEST(large_index, generates_twenty_five_thousand_rows_for_the_product_walk)
{
    index_file index(R"({"generate": {"count": 25001, "folder": "C:\\bench", "keywords": ["red", "green"], "people": ["Ann"]}})");
    const auto start = std::chrono::steady_clock::now();
    const auto run = run_like_product(L"");
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(run.failed_step, "");
    ASSERT_EQ(run.records.size(), 25000u);  // TOP 25000 of 25,001
    EXPECT_EQ(run.records.front().path, L"C:\\bench\\item-25000.jpg");
    EXPECT_EQ(run.records.back().path, L"C:\\bench\\item-00001.jpg");
    EXPECT_EQ(run.records.front().keywords, std::vector<std::wstring>{L"red"});
    EXPECT_EQ(run.records.front().size, 26000u);
    EXPECT_EQ(run.records.front().type_text, L"JPEG image");
    RecordProperty("seconds", std::to_string(seconds));
    std::printf("large index: 25,000 rows read the product's way in %.2f s\n", seconds);

    // Ratings cycle through none, 1, 25, 50, 75 and 99: a third of the rows have four stars or more.
    EXPECT_EQ(run_like_product(L"System.Rating >= 63").records.size(), 8333u);
}
} // namespace
