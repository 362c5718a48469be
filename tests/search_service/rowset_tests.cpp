// Rows as the product reads them, through its seven bindings into a 1120-byte buffer (the shapes of
// each column are the product's search tests'); the faults an index file injects, and broken index files.

#include "standin_client.h"

#include "support/test_files.h"

#include <oledberr.h>

#include <gtest/gtest.h>

namespace
{
using namespace search_service_test;

constexpr wchar_t product_columns[] =
    L"SELECT System.ItemPathDisplay, System.Size, System.ItemType, System.ItemTypeText, System.DateCreated, Path, "
    L"System.ItemPathDisplay, System.ItemNameDisplay, System.Keywords, System.Rating, System.Photo.PeopleNames "
    L"FROM SystemIndex";
const DBBINDING product_bindings[] = {
    binding(1, DBTYPE_WSTR, 512, 520),          binding(2, DBTYPE_I8, 1032, 8),
    binding(4, DBTYPE_WSTR, 0, 512),            binding(5, DBTYPE_FILETIME, 1040, 8),
    binding(9, DBTYPE_VARIANT, 1064, 24, 1056), binding(10, DBTYPE_I4, 1052, 4, 1048),
    binding(11, DBTYPE_VARIANT, 1096, 24, 1088),
};

statement_result read_like_the_product(const std::string& items)
{
    index_file index(R"({"items": [)" + items + "]}");
    return fetch_rows(product_columns, product_bindings, 1120);
}

TEST(rowset, size_and_date_come_from_the_real_file_and_every_handle_comes_back)
{
    test_support::scratch_folder folder(L"search-rowset");
    const auto file = folder.path() / L"holiday photo.jpg";
    test_support::write_file(file, std::string(1234, 'x'));
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data));

    const auto before = standin_counters();
    const auto read = read_like_the_product(R"({"path": )" + json_string(file.wstring()) +
                                            R"(, "type": "JPEG image", "keywords": ["beach"], "rating": 75})");
    ASSERT_EQ(read.result, S_OK);
    ASSERT_EQ(read.rows.size(), 1u);
    const auto& row = read.rows[0];
    EXPECT_EQ(row.get_data, S_OK);
    EXPECT_EQ(row.text_at(512), file.wstring());
    EXPECT_EQ(row.text_at(0), L"JPEG image");
    EXPECT_EQ(row.at<LONGLONG>(1032), 1234);
    EXPECT_EQ(row.at<FILETIME>(1040).dwLowDateTime, data.ftCreationTime.dwLowDateTime);
    EXPECT_EQ(row.at<FILETIME>(1040).dwHighDateTime, data.ftCreationTime.dwHighDateTime);
    EXPECT_EQ(row.at<LONG>(1052), 75);

    const auto after = standin_counters();
    EXPECT_EQ(after.rows_obtained - before.rows_obtained, 1);
    EXPECT_EQ(after.rows_released - before.rows_released, 1);
    EXPECT_EQ(after.accessors_created - before.accessors_created, 1);
    EXPECT_EQ(after.accessors_released - before.accessors_released, 1);
    EXPECT_EQ(after.live_objects, 0);
    EXPECT_EQ(standin_can_unload_now(), S_OK);
}

constexpr char three_items[] = R"("items": [{"path": "C:\\f\\1.txt"}, {"path": "C:\\f\\2.txt"}, {"path": "C:\\f\\3.txt"}])";

// Each form of fault (a number, a count of calls that still work, a slow step); the product's search tests
// inject a fault at every step of its walk.
TEST(faults, a_fault_answers_its_hresult_and_every_object_is_given_back)
{
    const struct
    {
        const char* fault; // the "faults" member
        HRESULT result;    // of the statement
        std::vector<HRESULT> get_data;
        DWORD at_least_ms = 0; // that a run takes
    } rows[] = {
        {R"("Initialize": -2147217843)", DB_SEC_E_AUTH_FAILED, {}},
        {R"("GetData": {"hresult": "0x80040E04", "after": 1})", S_OK, {S_OK, DB_E_BADROWHANDLE, DB_E_BADROWHANDLE}},
        {R"("GetNextRows": {"delay_ms": 150, "after": 1})", S_OK, {S_OK, S_OK, S_OK}, 150},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.fault);
        const auto before = standin_counters();
        index_file index(std::string("{") + three_items + R"(, "faults": {)" + row.fault + "}}");
        // Calls are counted per loaded index, and every data source loads it afresh: twice the same.
        for (int run = 0; run < 2; ++run)
        {
            const auto started = GetTickCount64();
            const auto result = run_statement(L"SELECT Path FROM SystemIndex");
            EXPECT_GE(GetTickCount64() - started + 16, row.at_least_ms) << "the tick's steps allowed for";
            EXPECT_EQ(result.result, row.result) << std::hex << result.result;
            std::vector<HRESULT> get_data;
            for (const auto& fetched : result.rows)
                get_data.push_back(fetched.get_data);
            EXPECT_EQ(get_data, row.get_data);
        }
        const auto after = standin_counters();
        EXPECT_EQ(after.live_objects, 0);
        EXPECT_EQ(after.rows_obtained - before.rows_obtained, after.rows_released - before.rows_released);
        EXPECT_EQ(after.accessors_created - before.accessors_created, after.accessors_released - before.accessors_released);
        EXPECT_EQ(standin_can_unload_now(), S_OK);
    }
}

TEST(faults, broken_index_files_make_creation_fail_with_invalid_data)
{
    const struct { const char* json; const wchar_t* description_part; } rows[] = {
        {R"({"items": [)", L"not JSON"},
        {R"({"items": [{"path": "C:\\a", "date_created": "2024-02-30 00:00:00"}]})", L"items[0].date_created"},
        {R"({"faults": {"GetNextRows": {"after": 1}}})", L"faults.GetNextRows"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.json);
        index_file index(row.json);
        com_ptr<IDBInitialize> initialize;
        EXPECT_EQ(CoCreateInstance(CLSID_CollatorDataSource, nullptr, CLSCTX_ALL, IID_IDBInitialize, initialize.put_void()),
                  HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
        com_ptr<IErrorInfo> error;
        ASSERT_EQ(GetErrorInfo(0, error.put()), S_OK);
        BSTR description = nullptr;
        ASSERT_EQ(error->GetDescription(&description), S_OK);
        EXPECT_NE(std::wstring(description).find(row.description_part), std::wstring::npos)
            << testing::PrintToString(std::wstring(description));
        SysFreeString(description);
        com_ptr<ISearchManager> manager;
        EXPECT_EQ(CoCreateInstance(CLSID_CSearchManager, nullptr, CLSCTX_ALL, IID_ISearchManager, manager.put_void()),
                  HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    }
    SetEnvironmentVariableW(search_standin_index_variable, nullptr);
    const auto empty = run_statement(L"SELECT Path FROM SystemIndex");
    EXPECT_EQ(empty.result, S_OK) << "no configured index is an empty index";
    EXPECT_TRUE(empty.rows.empty());
}
} // namespace
