// run_search against the registered search stand-in: the where text, the rows as the index gives them
// (over-long texts, every form of a multi-valued column, ratings without a value), the 25,000-row cap,
// and a provider failing at each step of the walk, which must still give back every object and row.

#include "search/search_query.h"

#include "standin_client.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace
{
using search_service_test::index_file;
using search_service_test::json_string;
using search_service_test::standin_counters;

TEST(search_where_restrictions, builds_the_restriction_text)
{
    const struct { const wchar_t* pattern; const wchar_t* query; const wchar_t* filter;
                   const wchar_t* expected; } rows[] = {
        {L"*", L"", L"", L"AND scope='file:'"},
        {L"*", L"System.Rating >= 63", L"", L"AND scope='file:' AND (System.Rating >= 63) "},
        {L"IMG_?.*", L"", L"", L"AND scope='file:' AND System.ItemPathDisplay LIKE 'IMG__.%' "},
        {L"my_file", L"", L"", L"AND scope='file:' AND System.ItemPathDisplay LIKE 'my_file' "},
        {L"beach", L"", L"", L"AND scope='file:' AND Contains(System.ItemPathDisplay, 'beach')"},
        {L"*", L"", L"holiday", L"AND scope='file:' AND CONTAINS(System.Keywords, 'holiday')"},
        {L"*b*", L"System.Keywords = 'it''s'", L"\"sea*\"",
         L"AND scope='file:' AND System.ItemPathDisplay LIKE '%b%'  AND CONTAINS(System.Keywords, '\"sea*\"') AND "
         L"(System.Keywords = 'it''s') "},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.pattern)) + " " + testing::PrintToString(std::wstring(row.query)));
        EXPECT_EQ(search_where_restrictions(row.pattern, row.query, row.filter), row.expected);
    }
}

// Items ranked in the order they are listed, so the index returns them in that order.
std::string items_json(const std::vector<std::string>& items, const std::string& rest = "")
{
    std::string json = R"({"items": [)";
    for (std::size_t i = 0; i < items.size(); ++i)
        json += (i ? ", {" : "{") + items[i] + R"(, "rank": )" + std::to_string(1000 - i) + "}";
    return json + "]" + rest + "}";
}

// Every row of the index, as a saved search asks for them.
std::vector<search_result_record> search(const std::string& index_json)
{
    index_file index(index_json);
    return run_search(L"*", L"", L"");
}

TEST(run_search, reads_every_column_of_each_row_in_the_index_order)
{
    const auto records = search(items_json({R"("path": "C:\\Photos\\beach.jpg", "type": "JPEG image", "size": 4096,
                                               "date_created": "2024-01-15 08:30:00", "keywords": ["holiday", "beach"],
                                               "people": ["Ann Lee"], "rating": 75)",
                                            R"("path": "C:/Reports/q1.xlsx", "size": 5000000000, "date_created": 42)"}));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].path, L"C:\\Photos\\beach.jpg");
    EXPECT_EQ(records[0].type_text, L"JPEG image");
    EXPECT_EQ(records[0].size, 4096u);
    SYSTEMTIME created{};
    FileTimeToSystemTime(&records[0].date_created, &created);
    EXPECT_EQ((std::vector<WORD>{created.wYear, created.wMonth, created.wDay, created.wHour, created.wMinute}),
              (std::vector<WORD>{2024, 1, 15, 8, 30}));
    EXPECT_EQ(records[0].rating, 75u);
    EXPECT_EQ(records[0].keywords, (std::vector<std::wstring>{L"holiday", L"beach"}));
    EXPECT_EQ(records[0].people, (std::vector<std::wstring>{L"Ann Lee"}));

    EXPECT_EQ(records[1].path, L"C:\\Reports\\q1.xlsx");
    EXPECT_EQ(records[1].size, 5000000000u);
    EXPECT_EQ(records[1].date_created.dwLowDateTime, 42u);
    EXPECT_EQ(records[1].date_created.dwHighDateTime, 0u);
    EXPECT_EQ(records[1].rating, 0u);
    EXPECT_EQ(records[1].type_text, L"");
    EXPECT_TRUE(records[1].keywords.empty());
}

TEST(run_search, survives_hostile_rows)
{
    const std::wstring long_path = L"C:\\" + std::wstring(400, L'p') + L".txt";
    const std::wstring long_type(300, L't');
    const struct
    {
        const char* name;
        std::string item; // members after "path"
        std::vector<std::wstring> keywords;
        std::uint32_t rating;
    } rows[] = {
        {"keywords array", R"("keywords": ["b", "a"], "rating": 1)", {L"b", L"a"}, 1},
        {"empty keywords array", R"("keywords": [], "rating": 99)", {}, 99},
        {"no keywords, no rating", R"("size": 1)", {}, 0},
        {"one empty string in an array", R"("keywords": [""])", {}, 0},
        {"single empty string", R"("keywords": "")", {}, 0},
        {"single string", R"("keywords": "solo")", {L"solo"}, 0},
        {"empty elements between values", R"("keywords": ["a", "", "b"])", {L"a", L"b"}, 0},
        {"a number instead of strings", R"("keywords": 5)", {}, 0},
        {"null keywords and null rating", R"("keywords": null, "rating": null)", {}, 0},
        // Bound as a signed 32-bit number: the provider reports an overflow instead of a value.
        {"rating beyond the binding's range", R"("rating": 4294967295)", {}, 0},
    };
    std::vector<std::string> items;
    for (std::size_t i = 0; i < std::size(rows); ++i)
        items.push_back(R"("path": "C:\\h\\)" + std::to_string(i) + R"(.txt", "people": ["P"], )" + rows[i].item);
    items.push_back(R"("path": )" + json_string(long_path) + R"(, "type": )" + json_string(long_type));
    const auto records = search(items_json(items));
    ASSERT_EQ(records.size(), std::size(rows) + 1);
    for (std::size_t i = 0; i < std::size(rows); ++i)
    {
        SCOPED_TRACE(rows[i].name);
        EXPECT_EQ(records[i].path, L"C:\\h\\" + std::to_wstring(i) + L".txt");
        EXPECT_EQ(records[i].keywords, rows[i].keywords);
        EXPECT_EQ(records[i].rating, rows[i].rating);
        EXPECT_EQ(records[i].people, std::vector<std::wstring>{L"P"});
    }
    // Over-long texts arrive cut to the row buffer, with their NUL; a missing list is empty.
    EXPECT_EQ(records.back().path, long_path.substr(0, 259));
    EXPECT_EQ(records.back().type_text, long_type.substr(0, 255));
    EXPECT_TRUE(records.back().people.empty());
}

TEST(run_search, at_most_25000_rows_come_back)
{
    EXPECT_EQ(search(R"({"generate": {"count": 25003}})").size(), 25000u);
}

TEST(run_search, a_failing_provider_step_gives_its_message_or_ends_the_list)
{
    const std::vector<std::string> three_items = {R"("path": "C:\\f\\1.txt", "size": 1, "date_created": 1)",
                                                  R"("path": "C:\\f\\2.txt", "size": 2, "date_created": 1)",
                                                  R"("path": "C:\\f\\3.txt", "size": 3, "date_created": 1)"};
    const struct
    {
        const char* fault;
        const char* message; // empty when run_search answers rows
        std::size_t rows;
    } rows[] = {
        {R"("CreateSearchManager": "0x80040154")", "Failed to create ISearchManager instance.", 0},
        {R"("GetCatalog": "0x80040D1A")", "Failed to get SystemIndex catalog.", 0},
        {R"("GetQueryHelper": "0x80004005")", "Failed to get ISearchQueryHelper.", 0},
        {R"("put_QueryWhereRestrictions": "0x80070057")", "Failed to set query where condition.", 0},
        {R"("GenerateSQLFromUserQuery": "0x80004005")", "Failed to create SQL query.", 0},
        {R"("CreateDataSource": "0x80040154")", "Failed to create IDBInitialize instance.", 0},
        {R"("Initialize": "0x80040E4D")", "Failed to initialize IDBInitialize.", 0},
        {R"x("QueryInterface(IDBCreateSession)": "0x80004002")x", "Failed to get IDBCreateSession interface.", 0},
        {R"x("QueryInterface(IAccessor)": "0x80004002")x", "Unable to get IID_IAccessor interface.", 0},
        {R"("CreateAccessor": "0x80040E21")", "Unable to CreateAccessor.", 0},
        {R"("CreateSession": "0x8007000E")", "", 0},
        {R"("CreateCommand": "0x80004005")", "", 0},
        {R"("SetCommandText": "0x80040E16")", "", 0},
        {R"("Execute": "0x80040E14")", "", 0},
        {R"("GetNextRows": {"hresult": "0x80004005", "after": 2})", "", 2},
        {R"("GetData": {"hresult": "0x80040E04", "after": 1})", "", 1},
        // Refusals the walk tolerates: the statement is only less restricted or unsorted.
        {R"("ReleaseRows": "0x80004005")", "", 3},
        {R"("put_QueryMaxResults": "0x80004005")", "", 3},
        {R"("put_QuerySorting": "0x80004005")", "", 3},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.fault);
        const auto before = standin_counters();
        std::string message;
        std::size_t count = 0;
        try
        {
            count = search(items_json(three_items, std::string(R"(, "faults": {)") + row.fault + "}")).size();
        }
        catch (const std::runtime_error& e)
        {
            message = e.what();
        }
        EXPECT_EQ(message, row.message);
        EXPECT_EQ(count, row.rows);
        const auto after = standin_counters();
        EXPECT_EQ(after.live_objects, 0) << "every object given back";
        EXPECT_EQ(after.accessors_created - before.accessors_created, after.accessors_released - before.accessors_released);
        if (std::string(row.fault).find("ReleaseRows") == std::string::npos)
        {
            EXPECT_EQ(after.rows_obtained - before.rows_obtained, after.rows_released - before.rows_released);
        }
    }
}
} // namespace
