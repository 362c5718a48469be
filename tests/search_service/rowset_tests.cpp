// Rows as the product reads them: its seven bindings into a 1120-byte buffer, with the lengths,
// statuses and VARIANTs a reader must cope with; the rowset's handles, accessors and column info.

#include "standin_client.h"

#include "support/test_files.h"

#include <oledberr.h>
#include <oleauto.h>
#include <propkey.h>

#include <gtest/gtest.h>

#include <cstring>

namespace
{
using namespace search_service_test;

std::wstring path_text(const std::filesystem::path& path)
{
    return path.wstring();
}

TEST(rowset, product_reader_gets_every_column_with_size_and_date_from_the_real_file)
{
    test_support::scratch_folder folder(L"search-rowset");
    const auto file = folder.path() / L"holiday photo.jpg";
    test_support::write_file(file, std::string(1234, 'x'));
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data));

    index_file index(R"({"items": [{"path": )" + json_string(path_text(file)) +
                     R"(, "type": "JPEG image", "keywords": ["beach", "sun"], "people": ["Ann Lee"], "rating": 75}]})");
    const auto before = standin_counters();
    const auto run = run_like_product(L"System.Rating >= 63");
    ASSERT_EQ(run.failed_step, "") << std::hex << run.result;
    ASSERT_EQ(run.records.size(), 1u);
    const auto& record = run.records[0];
    EXPECT_EQ(record.get_data, S_OK);
    EXPECT_EQ(record.path, path_text(file));
    EXPECT_EQ(record.size, 1234u);
    EXPECT_EQ(record.date_created.dwLowDateTime, data.ftCreationTime.dwLowDateTime);
    EXPECT_EQ(record.date_created.dwHighDateTime, data.ftCreationTime.dwHighDateTime);
    EXPECT_EQ(record.rating, 75u);
    EXPECT_EQ(record.type_text, L"JPEG image");
    EXPECT_EQ(record.keywords, (std::vector<std::wstring>{L"beach", L"sun"}));
    EXPECT_EQ(record.keywords_type, VT_ARRAY | VT_BSTR);
    EXPECT_EQ(record.people, (std::vector<std::wstring>{L"Ann Lee"}));

    // Every handle and accessor the reader took came back, and nothing of the stand-in is alive.
    const auto after = standin_counters();
    EXPECT_EQ(after.rows_obtained - before.rows_obtained, 1);
    EXPECT_EQ(after.rows_released - before.rows_released, 1);
    EXPECT_EQ(after.accessors_created - before.accessors_created, 1);
    EXPECT_EQ(after.accessors_released - before.accessors_released, 1);
    EXPECT_EQ(after.live_objects, 0);
    EXPECT_EQ(standin_can_unload_now(), S_OK);
}

TEST(rowset, multi_valued_columns_and_rating_reach_the_reader_in_every_shape)
{
    const struct
    {
        const char* name;
        const char* members;  // JSON members of the one item besides its path
        DBSTATUS keywords_status;
        VARTYPE keywords_type;
        std::vector<std::wstring> keywords;
        DBSTATUS rating_status;
        ULONG rating;
    } rows[] = {
        {"array", R"("keywords": ["a", "", "b"], "rating": 99)", DBSTATUS_S_OK, VT_ARRAY | VT_BSTR, {L"a", L"b"}, DBSTATUS_S_OK, 99},
        {"empty array", R"("keywords": [], "rating": 1)", DBSTATUS_S_OK, VT_ARRAY | VT_BSTR, {}, DBSTATUS_S_OK, 1},
        {"array of one empty string", R"("keywords": [""])", DBSTATUS_S_OK, VT_ARRAY | VT_BSTR, {}, DBSTATUS_S_ISNULL, 0},
        {"single string", R"("keywords": "solo", "rating": 50)", DBSTATUS_S_OK, VT_BSTR, {L"solo"}, DBSTATUS_S_OK, 50},
        {"single empty string", R"("keywords": "", "rating": 0)", DBSTATUS_S_OK, VT_BSTR, {}, DBSTATUS_S_OK, 0},
        {"not a string", R"("keywords": 5, "rating": null)", DBSTATUS_S_OK, VT_I4, {}, DBSTATUS_S_ISNULL, 0},
        {"missing", R"("rating": 25)", DBSTATUS_S_ISNULL, VT_EMPTY, {}, DBSTATUS_S_OK, 25},
        {"null", R"("keywords": null)", DBSTATUS_S_ISNULL, VT_EMPTY, {}, DBSTATUS_S_ISNULL, 0},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        index_file index(std::string(R"({"items": [{"path": "C:\\none\\a.txt", "type": "Text", "size": 1,
            "date_created": "2024-01-01 00:00:00", )") + row.members + "}]}");
        const auto run = run_like_product(L"");
        ASSERT_EQ(run.failed_step, "");
        ASSERT_EQ(run.records.size(), 1u);
        const auto& record = run.records[0];
        EXPECT_EQ(record.get_data, S_OK);
        EXPECT_EQ(record.keywords_status, row.keywords_status);
        EXPECT_EQ(record.keywords_type, row.keywords_type);
        EXPECT_EQ(record.keywords, row.keywords);
        EXPECT_EQ(record.people_status, DBSTATUS_S_ISNULL);
        EXPECT_EQ(record.rating_status, row.rating_status);
        EXPECT_EQ(record.rating, row.rating);
    }
}

TEST(rowset, over_long_path_and_type_text_are_cut_to_the_buffer_with_a_terminator)
{
    const std::wstring long_path = L"C:\\" + std::wstring(300, L'p') + L".txt";
    const std::wstring long_type = std::wstring(300, L't');
    index_file index(R"({"items": [{"path": )" + json_string(long_path) + R"(, "type": )" + json_string(long_type) +
                     R"(, "size": 5, "date_created": "2024-01-01 00:00:00"}]})");
    const auto run = run_like_product(L"");
    ASSERT_EQ(run.failed_step, "");
    ASSERT_EQ(run.records.size(), 1u);
    // Truncation is a warning: GetData still answers S_OK.
    EXPECT_EQ(run.records[0].get_data, S_OK);
    EXPECT_EQ(run.records[0].path, long_path.substr(0, 259));
    EXPECT_EQ(run.records[0].type_text, long_type.substr(0, 255));

    // With status and length bound, the status says truncated and the length is the whole value's.
    HRESULT hr = S_OK;
    auto rowset = open_rowset(L"SELECT System.ItemTypeText FROM SystemIndex", &hr);
    ASSERT_TRUE(rowset) << std::hex << hr;
    auto accessor = rowset.try_query<IAccessor>();
    DBBINDING binding{};
    binding.iOrdinal = 1;
    binding.obValue = 16;
    binding.obLength = 0;
    binding.obStatus = 8;
    binding.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
    binding.cbMaxLen = 10;
    binding.wType = DBTYPE_WSTR;
    HACCESSOR handle = DB_NULL_HACCESSOR;
    ASSERT_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 1, &binding, 0, &handle, nullptr), S_OK);
    HROW row = DB_NULL_HROW;
    HROW* rows = &row;
    DBCOUNTITEM obtained = 0;
    ASSERT_EQ(rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &rows), S_OK);
    alignas(8) BYTE buffer[64];
    std::memset(buffer, 0xCC, sizeof(buffer));
    EXPECT_EQ(rowset->GetData(row, handle, buffer), S_OK);
    DBLENGTH length = 0;
    DBSTATUS status = 0;
    std::memcpy(&length, buffer, sizeof(length));
    std::memcpy(&status, buffer + 8, sizeof(status));
    EXPECT_EQ(length, 600u);
    EXPECT_EQ(status, DBSTATUS_S_TRUNCATED);
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(buffer + 16)), L"tttt");
    EXPECT_EQ(buffer[26], 0xCC) << "written past cbMaxLen";
    rowset->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
    accessor->ReleaseAccessor(handle, nullptr);
}

TEST(rowset, a_missing_value_without_a_status_binding_is_an_error_of_that_column_only)
{
    // No real file and no size or date: the product's size and date bindings have no status.
    index_file index(R"({"items": [{"path": "C:\\none\\gone.txt", "type": "Text", "rating": 50}]})");
    const auto run = run_like_product(L"");
    ASSERT_EQ(run.failed_step, "");
    ASSERT_EQ(run.records.size(), 1u);
    EXPECT_EQ(run.records[0].get_data, DB_S_ERRORSOCCURRED);
    EXPECT_EQ(run.records[0].path, L"C:\\none\\gone.txt");
    EXPECT_EQ(run.records[0].rating, 50u);
}

TEST(rowset, fetches_forward_only_and_refuses_stale_handles)
{
    index_file index(R"({"items": [{"path": "C:\\r\\1.txt"}, {"path": "C:\\r\\2.txt"}, {"path": "C:\\r\\3.txt"}]})");
    HRESULT hr = S_OK;
    auto rowset = open_rowset(L"SELECT Path FROM SystemIndex", &hr);
    ASSERT_TRUE(rowset);
    auto accessor = rowset.try_query<IAccessor>();
    DBBINDING binding{};
    binding.iOrdinal = 1;
    binding.dwPart = DBPART_VALUE;
    binding.cbMaxLen = 64;
    binding.wType = DBTYPE_WSTR;
    HACCESSOR handle = DB_NULL_HACCESSOR;
    ASSERT_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 1, &binding, 0, &handle, nullptr), S_OK);

    HROW first = DB_NULL_HROW;
    HROW* one = &first;
    DBCOUNTITEM obtained = 0;
    EXPECT_EQ(rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &one), S_OK);
    EXPECT_EQ(obtained, 1u);
    EXPECT_EQ(rowset->GetNextRows(DB_NULL_HCHAPTER, 0, -1, &obtained, &one), DB_E_CANTFETCHBACKWARDS);
    EXPECT_EQ(rowset->GetNextRows(DB_NULL_HCHAPTER, -1, 1, &obtained, &one), DB_E_CANTSCROLLBACKWARDS);

    // Asking for more rows than are left hands out the rest, in memory the rowset allocates.
    HROW* rest = nullptr;
    EXPECT_EQ(rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 5, &obtained, &rest), DB_S_ENDOFROWSET);
    ASSERT_EQ(obtained, 2u);
    ASSERT_NE(rest, nullptr);
    alignas(8) wchar_t text[32] = {};
    EXPECT_EQ(rowset->GetData(rest[1], handle, text), S_OK);
    EXPECT_STREQ(text, L"C:\\r\\3.txt");
    HROW after_end = DB_NULL_HROW;
    HROW* none = &after_end;
    EXPECT_EQ(rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &none), DB_S_ENDOFROWSET);
    EXPECT_EQ(obtained, 0u);

    EXPECT_EQ(rowset->RestartPosition(DB_NULL_HCHAPTER), DB_E_ROWSNOTRELEASED);
    DBROWSTATUS statuses[3] = {};
    const HROW all[3] = {first, rest[0], rest[1]};
    EXPECT_EQ(rowset->ReleaseRows(3, all, nullptr, nullptr, statuses), S_OK);
    CoTaskMemFree(rest);
    EXPECT_EQ(rowset->GetData(first, handle, text), DB_E_BADROWHANDLE);
    EXPECT_EQ(rowset->ReleaseRows(1, &first, nullptr, nullptr, statuses), DB_E_ERRORSOCCURRED);
    EXPECT_EQ(statuses[0], DBROWSTATUS_E_INVALID);
    EXPECT_EQ(rowset->RestartPosition(DB_NULL_HCHAPTER), S_OK);
    EXPECT_EQ(rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &one), S_OK);
    EXPECT_EQ(rowset->GetData(first, handle + 100, text), DB_E_BADACCESSORHANDLE);
    rowset->ReleaseRows(1, &first, nullptr, nullptr, nullptr);
    EXPECT_EQ(accessor->ReleaseAccessor(handle, nullptr), S_OK);
    EXPECT_EQ(accessor->ReleaseAccessor(handle, nullptr), DB_E_BADACCESSORHANDLE);

    // The rowset keeps command, session and data source alive; releasing it frees the stand-in.
    EXPECT_EQ(standin_can_unload_now(), S_FALSE);
    accessor.reset();
    rowset.reset();
    EXPECT_EQ(standin_can_unload_now(), S_OK);
}

TEST(rowset, create_accessor_checks_every_binding_against_the_columns)
{
    index_file index(R"({"items": [{"path": "C:\\r\\1.txt"}]})");
    HRESULT hr = S_OK;
    auto rowset = open_rowset(std::wstring(L"SELECT ") + product_select_columns + L" FROM SystemIndex", &hr);
    ASSERT_TRUE(rowset);
    auto accessor = rowset.try_query<IAccessor>();
    auto make = [](DBORDINAL ordinal, DBTYPE type, DBPART part = DBPART_VALUE) {
        DBBINDING b{};
        b.iOrdinal = ordinal;
        b.dwPart = part;
        b.cbMaxLen = 8;
        b.wType = type;
        return b;
    };
    const struct
    {
        const char* name;
        DBACCESSORFLAGS flags;
        DBBINDING binding;
        HRESULT expected;
        DBBINDSTATUS status;
    } rows[] = {
        {"size as UI8", DBACCESSOR_ROWDATA, make(2, DBTYPE_UI8), S_OK, DBBINDSTATUS_OK},
        {"rating as UI4", DBACCESSOR_ROWDATA, make(10, DBTYPE_UI4), S_OK, DBBINDSTATUS_OK},
        {"date as DATE", DBACCESSOR_ROWDATA, make(5, DBTYPE_DATE), S_OK, DBBINDSTATUS_OK},
        {"path by reference", DBACCESSOR_ROWDATA, make(1, DBTYPE_WSTR | DBTYPE_BYREF), S_OK, DBBINDSTATUS_OK},
        {"ordinal 0 (bookmark)", DBACCESSOR_ROWDATA, make(0, DBTYPE_WSTR), DB_E_ERRORSOCCURRED, DBBINDSTATUS_BADORDINAL},
        {"ordinal past the columns", DBACCESSOR_ROWDATA, make(12, DBTYPE_WSTR), DB_E_ERRORSOCCURRED, DBBINDSTATUS_BADORDINAL},
        {"text as FILETIME", DBACCESSOR_ROWDATA, make(4, DBTYPE_FILETIME), DB_E_ERRORSOCCURRED, DBBINDSTATUS_UNSUPPORTEDCONVERSION},
        {"keywords as I4", DBACCESSOR_ROWDATA, make(9, DBTYPE_I4), DB_E_ERRORSOCCURRED, DBBINDSTATUS_UNSUPPORTEDCONVERSION},
        {"no part", DBACCESSOR_ROWDATA, make(1, DBTYPE_WSTR, 0), DB_E_ERRORSOCCURRED, DBBINDSTATUS_BADBINDINFO},
        {"parameter accessor", DBACCESSOR_PARAMETERDATA, make(1, DBTYPE_WSTR), DB_E_BADACCESSORFLAGS, DBBINDSTATUS_OK},
        {"by-reference accessor", DBACCESSOR_ROWDATA | DBACCESSOR_PASSBYREF, make(1, DBTYPE_WSTR), DB_E_BYREFACCESSORNOTSUPPORTED,
         DBBINDSTATUS_OK},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        HACCESSOR handle = DB_NULL_HACCESSOR;
        DBBINDSTATUS status = DBBINDSTATUS_OK;
        EXPECT_EQ(accessor->CreateAccessor(row.flags, 1, &row.binding, 0, &handle, &status), row.expected);
        EXPECT_EQ(status, row.status);
        EXPECT_EQ(handle == DB_NULL_HACCESSOR, FAILED(row.expected));
        if (handle != DB_NULL_HACCESSOR)
            accessor->ReleaseAccessor(handle, nullptr);
    }
}

TEST(rowset, column_info_names_the_selected_columns_and_maps_names_and_keys_to_ordinals)
{
    index_file index(R"({"items": []})");
    HRESULT hr = S_OK;
    auto rowset = open_rowset(std::wstring(L"SELECT ") + product_select_columns + L" FROM SystemIndex", &hr);
    ASSERT_TRUE(rowset);
    auto info = rowset.try_query<IColumnsInfo>();
    ASSERT_TRUE(info);
    DBORDINAL count = 0;
    DBCOLUMNINFO* columns = nullptr;
    OLECHAR* strings = nullptr;
    ASSERT_EQ(info->GetColumnInfo(&count, &columns, &strings), S_OK);
    ASSERT_EQ(count, 11u);
    const struct
    {
        const wchar_t* name;
        DBTYPE type;
    } expected[] = {{L"System.ItemPathDisplay", DBTYPE_WSTR}, {L"System.Size", DBTYPE_UI8}, {L"System.ItemType", DBTYPE_WSTR},
                    {L"System.ItemTypeText", DBTYPE_WSTR}, {L"System.DateCreated", DBTYPE_FILETIME}, {L"Path", DBTYPE_WSTR},
                    {L"System.ItemPathDisplay", DBTYPE_WSTR}, {L"System.ItemNameDisplay", DBTYPE_WSTR},
                    {L"System.Keywords", DBTYPE_VARIANT}, {L"System.Rating", DBTYPE_UI4},
                    {L"System.Photo.PeopleNames", DBTYPE_VARIANT}};
    for (DBORDINAL i = 0; i < count; ++i)
    {
        SCOPED_TRACE(i + 1);
        EXPECT_STREQ(columns[i].pwszName, expected[i].name);
        EXPECT_EQ(columns[i].iOrdinal, i + 1);
        EXPECT_EQ(columns[i].wType, expected[i].type);
    }
    CoTaskMemFree(columns);
    CoTaskMemFree(strings);

    DBID ids[5] = {};
    ids[0].eKind = DBKIND_NAME;
    ids[0].uName.pwszName = const_cast<LPOLESTR>(L"system.rating");
    ids[1].eKind = DBKIND_GUID_PROPID;
    ids[1].uGuid.guid = PKEY_Keywords.fmtid;
    ids[1].uName.ulPropid = PKEY_Keywords.pid;
    ids[2].eKind = DBKIND_NAME;
    ids[2].uName.pwszName = const_cast<LPOLESTR>(L"System.ItemPathDisplay");
    ids[3].eKind = DBKIND_NAME;
    ids[3].uName.pwszName = const_cast<LPOLESTR>(L"System.Author");
    ids[4].eKind = DBKIND_GUID_PROPID;
    ids[4].uGuid.guid = PKEY_Photo_PeopleNames.fmtid;
    ids[4].uName.ulPropid = PKEY_Photo_PeopleNames.pid;
    DBORDINAL ordinals[5] = {};
    EXPECT_EQ(info->MapColumnIDs(5, ids, ordinals), DB_S_ERRORSOCCURRED);
    EXPECT_EQ(ordinals[0], 10u);
    EXPECT_EQ(ordinals[1], 9u);
    EXPECT_EQ(ordinals[2], 1u);
    EXPECT_EQ(ordinals[3], DB_INVALIDCOLUMN);
    EXPECT_EQ(ordinals[4], 11u);
}

TEST(rowset, extra_properties_of_the_index_are_columns_too)
{
    index_file index(R"({"columns": [{"name": "System.Media.Duration", "type": "integer"}], "items": [
        {"path": "C:\\m\\a.mp3", "properties": {"System.Author": ["Zoe", "Yan"], "System.Media.Duration": 300}},
        {"path": "C:\\m\\b.mp3", "properties": {"System.Author": "Xia", "System.Unused": null}}]})");
    const auto result = run_statement(L"SELECT System.Author FROM SystemIndex WHERE System.Author = 'yan' OR System.Media.Duration IS NULL");
    EXPECT_EQ(result.result, S_OK);
    EXPECT_EQ(result.values, (std::vector<std::wstring>{L"Zoe; Yan", L"Xia"}));
}
} // namespace
