// The folder's descriptive methods: column states and the learned column numbers, details of the
// virtual items and of real files (the real folder's answers, keywords and people from the search cache),
// the sort order of every pair of kinds, and renaming results, pins and groups on disk.

#include "folder_test_support.h"

#include "namespace/folder_columns.h"
#include "search/search_cache.h"

#include <oleauto.h>
#include <propkey.h>

#include <algorithm>

namespace
{
using namespace folder_test;

const PROPERTYKEY size_key = {{0xB725F130, 0x47EF, 0x101A, {0xA5, 0xF1, 0x02, 0x60, 0x8C, 0x9E, 0xEB, 0xAC}}, 12};
const PROPERTYKEY type_key = {{0xB725F130, 0x47EF, 0x101A, {0xA5, 0xF1, 0x02, 0x60, 0x8C, 0x9E, 0xEB, 0xAC}}, 4};
const PROPERTYKEY keywords_key = {{0xF29F85E0, 0x4FF9, 0x1068, {0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9}}, 5};
const PROPERTYKEY people_key = {{0xE8309B6E, 0x084C, 0x49B4, {0xB1, 0xFC, 0x90, 0xA8, 0x03, 0x31, 0xB6, 0x38}}, 100};

// Column numbers this test gives to the columns Wine's desktop does not have.
constexpr int keywords_column = 40, rating_column = 41, people_column = 42;

std::wstring details_text(HRESULT hr, SHELLDETAILS& details)
{
    if (FAILED(hr))
        return {};
    unique_cotaskmem_string text;
    StrRetToStrW(&details.str, nullptr, text.put());
    return text ? text.get() : L"";
}

// The real folder's own answer for a file's column.
HRESULT real_details(const std::wstring& path, UINT column, SHELLDETAILS& details)
{
    unique_absolute_id_list real;
    com_ptr<IShellFolder2> parent;
    PCUITEMID_CHILD last = nullptr;
    EXPECT_EQ(SHParseDisplayName(path.c_str(), nullptr, real.put(), 0, nullptr), S_OK);
    EXPECT_EQ(SHBindToParent(real.get(), IID_IShellFolder2, parent.put_void(), &last), S_OK);
    return parent ? parent->GetDetailsOf(last, column, &details) : E_UNEXPECTED;
}

// The desktop's number of the column with that key, or -1.
int desktop_column(IShellFolder2* folder, const PROPERTYKEY& key)
{
    for (UINT column = 0; column < 64; ++column)
    {
        SHCOLUMNID found{};
        if (FAILED(folder->MapColumnToSCID(column, &found)))
            break;
        if (same_property_key(found, key))
            return static_cast<int>(column);
    }
    return -1;
}

// GetDetailsEx's text for that key, or its failure code in hex.
std::wstring details_ex(IShellFolder2* folder, PCUITEMID_CHILD item, const PROPERTYKEY& key)
{
    VARIANT value{};
    const HRESULT hr = folder->GetDetailsEx(item, &key, &value);
    std::wstring text = FAILED(hr) ? from_utf8(hex(hr)) : value.vt == VT_BSTR ? value.bstrVal : L"(not a string)";
    VariantClear(&value);
    return text;
}

class folder_details : public folder_fixture
{
protected:
    void SetUp() override
    {
        folder_fixture::SetUp();
        forget_learned_columns();
        key = L"folder details test " + std::to_wstring(GetTickCount64());
        process_search_cache().lookup(key);
    }
    void TearDown() override
    {
        forget_learned_columns();
        folder_fixture::TearDown();
    }

    std::wstring file(const std::wstring& name, std::size_t size = 3)
    {
        test_support::write_file(scratch.path() / name, std::string(size, 'x'));
        return (scratch.path() / name).wstring();
    }
    // A search the cache has finished, listing these rows.
    void cache_rows(std::vector<search_result_record> rows) { process_search_cache().store(key, std::move(rows)); }

    com_ptr<search_and_action_shell_folder> saved_search()
    {
        const auto root = root_id_list(CLSID_search_and_action_shell_folder);
        const auto folder_item = create_folder_item({.name = L"Photos"});
        const auto search_item = create_search_item({.name = L"Photos"}, {.name = L"Beach", .query = L"x"}, {}, {});
        auto list = combine(root.get(), folder_item.get());
        list = combine(list.get(), search_item.get());
        return make_folder(false, list.get());
    }

    test_support::scratch_folder scratch{L"folder-details"};
    std::wstring key;
};

TEST_F(folder_details, column_states_teach_the_column_numbers_and_virtual_items_answer_their_name_and_type)
{
    const auto folder = make_root(false);
    const int type = desktop_column(folder.get(), type_key);
    const int size = desktop_column(folder.get(), size_key);
    ASSERT_GT(type, 0) << "Wine's desktop has a type column";
    ASSERT_GT(size, 0);
    const auto organised = create_folder_item({.name = L"Photos"});

    SHELLDETAILS details{};
    EXPECT_EQ(hex(folder->GetDetailsOf(organised.get(), type, &details)), hex(E_INVALIDARG))
        << "a column never asked about is not recognised yet";

    SHCOLSTATEF state = 0;
    for (const auto& [column, expected] : {std::pair{0, 0x11u}, {type, 0x31u}, {size, 0x32u}})
    {
        EXPECT_EQ(folder->GetDefaultColumnState(column, &state), S_OK);
        EXPECT_EQ(state, expected) << column;
    }
    EXPECT_EQ(learned_column(special_column::item_type), type);
    state = 0;
    EXPECT_EQ(hex(folder->GetDefaultColumnState(63, &state)), hex(E_INVALIDARG));
    EXPECT_EQ(state, 0xA0u);
    EXPECT_EQ(hex(folder->GetDefaultColumnState(0, nullptr)), hex(E_INVALIDARG));

    // Virtual items answer their name and type and nothing else.
    struct row
    {
        const char* name;
        unique_child_id item;
        const wchar_t *display, *type_text;
    } rows[] = {
        {"organised folder", create_folder_item({.name = L"Photos"}), L"Photos", L"Organized Folder"},
        {"saved search", create_search_item({.name = L"Photos"}, {.name = L"Beach", .query = L"x"}, {}, {}), L"Beach",
         L"Organized Search"},
        {"group", create_group_item_from_parts(scratch.path().wstring(), L"Trips"), L"Trips", L"Quick pins group"},
    };
    for (auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        SHELLDETAILS details{};
        HRESULT hr = folder->GetDetailsOf(r.item.get(), 0, &details);
        EXPECT_EQ(details_text(hr, details), r.display);
        hr = folder->GetDetailsOf(r.item.get(), type, &details);
        EXPECT_EQ(details_text(hr, details), r.type_text);
        EXPECT_EQ(hex(folder->GetDetailsOf(r.item.get(), size, &details)), hex(E_INVALIDARG));

        EXPECT_EQ(details_ex(folder.get(), r.item.get(), PKEY_ItemName), r.display);
        EXPECT_EQ(details_ex(folder.get(), r.item.get(), type_key), r.type_text);
        EXPECT_EQ(details_ex(folder.get(), r.item.get(), size_key), L"0x80070057");
    }

    // The header of a column is the desktop's.
    const auto desktop = folder->desktop_folder();
    SHELLDETAILS ours{}, theirs{};
    EXPECT_EQ(folder->GetDetailsOf(nullptr, size, &ours), S_OK);
    EXPECT_EQ(desktop->GetDetailsOf(nullptr, size, &theirs), S_OK);
    EXPECT_EQ(details_text(S_OK, ours), details_text(S_OK, theirs));
}

// -1 marks a column number not learned yet; the index 0xFFFFFFFF, the same bits, is no column at all.
TEST_F(folder_details, the_highest_column_index_is_an_unknown_column_while_nothing_is_learned)
{
    const auto folder = saved_search();
    const auto path = file(L"Shore.txt");
    cache_rows({{.path = path, .keywords = {L"Sea"}, .people = {L"Bo"}}});
    const auto result = create_result_item(path, {L"Sea"}, {L"Bo"});
    const auto organised = create_folder_item({.name = L"Photos"});
    constexpr UINT no_column = 0xFFFFFFFF;

    SHCOLSTATEF state = 0;
    EXPECT_EQ(hex(folder->GetDefaultColumnState(no_column, &state)), hex(E_INVALIDARG));
    EXPECT_EQ(state, 0xA0u);
    SHELLDETAILS details{};
    EXPECT_EQ(hex(folder->GetDetailsOf(organised.get(), no_column, &details)), hex(E_INVALIDARG));
    // A result: what its real folder answers, never the keywords the search read.
    SHELLDETAILS theirs{};
    const HRESULT expected = real_details(path, no_column, theirs);
    const HRESULT hr = folder->GetDetailsOf(result.get(), no_column, &details);
    EXPECT_EQ(hex(hr), hex(expected));
    EXPECT_NE(details_text(hr, details), L"Sea");
    for (std::size_t i = 0; i < special_column_count; ++i)
        EXPECT_EQ(learned_column(static_cast<special_column>(i)), -1);
}

TEST_F(folder_details, real_files_answer_through_their_folder_and_lists_from_the_search_cache)
{
    const auto folder = saved_search();
    const int size = desktop_column(folder.get(), size_key);
    const auto path = file(L"Beach.txt", 1234);
    const auto other = file(L"Unlisted.txt", 10);
    cache_rows({{.path = path, .keywords = {L"Sea", L"Beach"}, .people = {L"Bo", L"Al"}}});
    const auto item = create_result_item(path, {L"Sea", L"Beach"}, {L"Bo", L"Al"});
    const auto unlisted = create_result_item(other, {L"x"}, {});

    // The real folder's own answer for the same file.
    SHELLDETAILS theirs{}, ours{};
    for (const UINT column : {0u, static_cast<UINT>(size)})
    {
        SCOPED_TRACE(column);
        const HRESULT expected = real_details(path, column, theirs);
        const HRESULT hr = folder->GetDetailsOf(item.get(), column, &ours);
        EXPECT_EQ(hex(hr), hex(expected));
        EXPECT_EQ(details_text(hr, ours), details_text(expected, theirs));
    }

    EXPECT_EQ(details_ex(folder.get(), item.get(), keywords_key), L"Sea; Beach") << "as the search read them";
    EXPECT_EQ(details_ex(folder.get(), item.get(), people_key), L"Bo; Al");

    set_learned_column(special_column::keywords, keywords_column);
    set_learned_column(special_column::people, people_column);
    EXPECT_EQ(details_text(folder->GetDetailsOf(item.get(), keywords_column, &ours), ours), L"Sea; Beach");
    EXPECT_EQ(details_text(folder->GetDetailsOf(item.get(), people_column, &ours), ours), L"Bo; Al");
    // A file no finished search lists goes to its folder, which has no such column.
    EXPECT_NE(details_text(folder->GetDetailsOf(unlisted.get(), keywords_column, &ours), ours), L"x");

    // A result whose file is gone: the parse fails, is logged and returned.
    const auto gone = create_empty_result_item();
    const std::wstring gone_path = (scratch.path() / L"gone" / L"nothing.txt").wstring();
    std::copy(gone_path.begin(), gone_path.end(), own_item_data(gone.get())->path);
    log_.emplace();
    const HRESULT hr = folder->GetDetailsOf(gone.get(), size, &ours);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(log_->messages(), std::vector<std::string>{fmt::format(
                                    "WARNING GetDetailsOf: filesystem pidl parse failed with HRESULT 0x{:X}", hresult_bits(hr))});
}

// The sign of a CompareIDs answer: -1, 0, 1, or 9 for a failure.
int order_of(IShellFolder* folder, LPARAM param, PCUIDLIST_RELATIVE a, PCUIDLIST_RELATIVE b)
{
    const HRESULT hr = folder->CompareIDs(param, a, b);
    return FAILED(hr) ? 9 : static_cast<short>(HRESULT_CODE(hr));
}

unique_child_id pin(std::uint16_t order, const wchar_t* name, const std::wstring& target)
{
    auto item = create_pin_item_from_parts(target, name, target + L".lnk");
    own_item_data(item.get())->order = order;
    return item;
}

TEST_F(folder_details, pairs_of_kinds_sort_by_the_rules_of_their_column_and_ordered_items_by_number)
{
    const auto folder = saved_search();
    const int size = desktop_column(folder.get(), size_key);
    const int type = desktop_column(folder.get(), type_key);
    SHCOLSTATEF state = 0;
    folder->GetDefaultColumnState(size, &state);
    folder->GetDefaultColumnState(type, &state);
    set_learned_column(special_column::keywords, keywords_column);
    set_learned_column(special_column::rating, rating_column);
    set_learned_column(special_column::people, people_column);

    const auto big = file(L"a big.txt", 500);
    const auto small = file(L"b small.txt", 5);
    const auto third = file(L"c.txt", 50);
    cache_rows({{.path = big, .rating = 75, .type_text = L"Zebra", .keywords = {L"b", L"a"}, .people = {L"Eve"}},
                {.path = small, .rating = 25, .type_text = L"Aardvark", .keywords = {L"a", L"b", L"c"}, .people = {L"al"}}});
    const auto r_big = create_result_item(big, {}, {});
    const auto r_small = create_result_item(small, {}, {});
    const auto r_third = create_result_item(third, {L"b", L"a"}, {});
    const auto r_fourth = create_result_item(third, {L"a", L"c"}, {L"z"});
    auto r_upper = create_result_item(big, {}, {});
    std::wstring upper = big;
    std::transform(upper.begin(), upper.end(), upper.begin(), towupper);
    std::copy(upper.begin(), upper.end(), own_item_data(r_upper.get())->path);
    own_item_data(r_upper.get())->stamp = own_item_data(r_big.get())->stamp + 1;
    const auto organised = create_folder_item({.name = L"zzz"});
    const auto search = create_search_item({.name = L"Photos"}, {.name = L"Beach", .query = L"x"}, {}, {});
    // Ordered items: by their number, then by name; unordered ones last (pins as a group's view shows them:
    // the ExplorerBrowser test). Equal paths are the same item whatever their numbers.
    const auto pins_root = make_root(true);
    const auto p2 = pin(2, L"z", small), same_target = pin(5, L"other name", small), twin = pin(2, L"z", third);
    auto photos = create_folder_item({.name = L"Photos", .order = 3});
    auto music = create_folder_item({.name = L"Music", .order = 20});
    auto group = create_group_item_from_parts(scratch.path().wstring(), L"A group");
    own_item_data(group.get())->order = 7;
    // Longer lists compare through the subfolder of their equal first items.
    const auto root = make_root(false);
    const auto beach = create_search_item({.name = L"Photos"}, {.name = L"Beach", .order = 2, .query = L"x"}, {}, {});
    const auto city = create_search_item({.name = L"Photos"}, {.name = L"City", .order = 1, .query = L"y"}, {}, {});
    const auto to_beach = combine(reinterpret_cast<PCIDLIST_ABSOLUTE>(photos.get()), beach.get());
    const auto to_city = combine(reinterpret_cast<PCIDLIST_ABSOLUTE>(photos.get()), city.get());

    const std::tuple<const char*, IShellFolder*, LPARAM, PCUIDLIST_RELATIVE, PCUIDLIST_RELATIVE, int> rows[] = {
        {"name: paths", folder.get(), 0, r_big.get(), r_small.get(), -1},
        {"name: paths ignoring case", folder.get(), 0, r_big.get(), r_upper.get(), 0},
        {"all fields: the smaller stamp first", folder.get(), SHCIDS_ALLFIELDS, r_big.get(), r_upper.get(), -1},
        {"size: the file sizes", folder.get(), size, r_big.get(), r_small.get(), 1},
        {"type: the cached type texts", folder.get(), type, r_big.get(), r_small.get(), 1},
        {"type: not both cached, display names", folder.get(), type, r_third.get(), r_small.get(), 1},
        {"rating: the lower first", folder.get(), rating_column, r_big.get(), r_small.get(), 1},
        {"rating: not both cached, paths", folder.get(), rating_column, r_third.get(), r_small.get(), 1},
        {"keywords: cached lists, sorted, element by element, shorter first", folder.get(), keywords_column,
         r_big.get(), r_small.get(), -1},
        {"keywords: the identifiers' texts when not both cached", folder.get(), keywords_column, r_third.get(),
         r_fourth.get(), -1},
        {"people: cached lists in the locale ignoring case", folder.get(), people_column, r_small.get(), r_big.get(), -1},
        {"folder path: paths", folder.get(), 63, r_small.get(), r_big.get(), 1},
        {"different kinds: the lower kind first", folder.get(), 0, organised.get(), r_big.get(), -1},
        {"different kinds, any column", folder.get(), size, r_big.get(), search.get(), 1},
        {"same virtual kind, other column: paths", folder.get(), size, organised.get(), organised.get(), 0},
        {"pins: the same target", pins_root.get(), 0, p2.get(), same_target.get(), 0},
        {"pins: equal keys, the paths", pins_root.get(), 0, p2.get(), twin.get(), -1},
        {"organised folders by number", pins_root.get(), 0, photos.get(), music.get(), -1},
        {"groups share the ordering", pins_root.get(), 0, group.get(), music.get(), -1},
        {"organised folders and groups", pins_root.get(), 0, photos.get(), group.get(), -1},
        {"organised folders, all fields", pins_root.get(), SHCIDS_ALLFIELDS, music.get(), photos.get(), 1},
        {"longer lists: City is number 1", root.get(), 0, to_beach.get(), to_city.get(), 1},
        {"longer lists: the folder before what it holds", root.get(), 0, photos.get(), to_city.get(), -1},
        {"longer lists: equal", root.get(), 0, to_city.get(), to_city.get(), 0},
    };
    for (const auto& [name, place, param, a, b, expected] : rows)
    {
        SCOPED_TRACE(name);
        EXPECT_EQ(order_of(place, param, a, b), expected);
        EXPECT_EQ(order_of(place, param, b, a), -expected) << "reversed";
    }
    EXPECT_EQ(hex(folder->CompareIDs(0, nullptr, r_big.get())), hex(E_INVALIDARG));
    auto hostile = create_result_item(big, {}, {});
    own_item_data(hostile.get())->kind = 6;
    EXPECT_EQ(hex(folder->CompareIDs(0, hostile.get(), r_big.get())), hex(E_INVALIDARG));
}

// A renamed result moves on disk, in the cache and in its identifier; below a root or behind the long path
// prefix its new path has one separator. A refused or taken name changes nothing.
TEST_F(folder_details, a_renamed_result_moves_on_disk_in_the_cache_and_in_its_identifier)
{
    const auto folder = saved_search();
    const std::wstring in_scratch = scratch.path().wstring();
    const std::wstring long_form = L"\\\\?\\";
    const struct
    {
        std::wstring prefix, file, renamed; // the prefix of the identifier's path
        std::wstring new_name = {};
    } rows[] = {
        {L"", in_scratch + L"\\Old name.txt", in_scratch + L"\\New name.txt", L"New name.txt. "},
        {L"", L"C:\\velmora rename test.txt", L"C:\\velmora renamed test.txt"},
        {long_form, L"C:\\velmora rename test.txt", L"C:\\velmora renamed test.txt"},
        {long_form, in_scratch + L"\\Old.txt", in_scratch + L"\\New.txt"},
    };
    for (const auto& row : rows)
    {
        const std::wstring path = row.prefix + row.file;
        const std::wstring renamed_path = row.prefix + row.renamed;
        SCOPED_TRACE(to_utf8(path));
        test_support::write_file(row.file, "data");
        cache_rows({{.path = path, .keywords = {L"k"}}});
        const auto item = create_result_item(path, {L"k"}, {});
        const auto new_name = row.new_name.empty() ? path_file_name(row.renamed) : row.new_name;
        PITEMID_CHILD out = nullptr;
        EXPECT_EQ(hex(folder->SetNameOf(nullptr, item.get(), new_name.c_str(), SHGDN_NORMAL, &out)), hex(S_OK));
        unique_child_id renamed(out);
        EXPECT_EQ(test_support::read_file(row.renamed), "data");
        EXPECT_FALSE(std::filesystem::exists(row.file));
        ASSERT_TRUE(renamed);
        const auto* data = own_item_data(renamed.get());
        EXPECT_EQ(item_path(data), renamed_path);
        EXPECT_EQ(std::wstring(data->keywords), L"k");
        EXPECT_EQ(data->stamp, file_stamp(row.renamed.c_str()));
        EXPECT_FALSE(process_search_cache().has_listed_record(path));
        EXPECT_TRUE(process_search_cache().has_listed_record(renamed_path));
        EXPECT_TRUE(process_search_cache().is_moved_path(path));
        std::filesystem::remove(row.renamed);
        key += L"+";
        process_search_cache().lookup(key);
    }

    const auto path = file(L"Old name.txt", 7), taken = file(L"Taken.txt", 9);
    cache_rows({{.path = path}});
    const auto item = create_result_item(path, {}, {});
    for (const std::wstring name : {L"a:b.txt", L"a\\b.txt", L"..", L" . . ", L"a/b", L"a\"b"})
    {
        SCOPED_TRACE(to_utf8(name));
        PITEMID_CHILD out = reinterpret_cast<PITEMID_CHILD>(1);
        EXPECT_EQ(hex(folder->SetNameOf(nullptr, item.get(), name.c_str(), SHGDN_NORMAL, &out)), hex(0x8007007B));
        EXPECT_EQ(out, nullptr);
    }
    log_.emplace();
    EXPECT_EQ(hex(folder->SetNameOf(nullptr, item.get(), L"Taken.txt", SHGDN_NORMAL, nullptr)),
              hex(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)));
    EXPECT_EQ(log_->messages(), std::vector<std::string>{"ERROR SetNameOf: MoveFileExW failed: " + to_utf8(path) + " -> " +
                                                         to_utf8(taken) + ", error 183"});
    EXPECT_EQ(test_support::read_file(path), "xxxxxxx");
    EXPECT_EQ(test_support::read_file(taken), "xxxxxxxxx");
    EXPECT_TRUE(process_search_cache().has_listed_record(path)) << "a failed rename leaves the cache alone";
}

TEST_F(folder_details, pins_and_groups_are_renamed_by_the_store_keeping_number_extension_and_order)
{
    const auto folder = make_root(true);
    const auto group_folder = scratch.path() / L"2. Trips";
    std::filesystem::create_directories(group_folder);
    const auto target = file(L"target.txt");
    test_support::write_file(group_folder / L"3. Old.lnk", "link");
    auto pin_item = create_pin_item_from_parts(target, L"Old", (group_folder / L"3. Old.lnk").wstring());
    own_item_data(pin_item.get())->order = 4;
    auto group = create_group_item_from_parts(group_folder.wstring(), L"Trips");

    PITEMID_CHILD out = nullptr;
    ASSERT_EQ(folder->SetNameOf(nullptr, pin_item.get(), L"New.", SHGDN_NORMAL, &out), S_OK);
    unique_child_id renamed_pin(out);
    EXPECT_TRUE(std::filesystem::exists(group_folder / L"3. New.lnk"));
    const auto* pin_data = own_item_data(renamed_pin.get());
    EXPECT_EQ(item_display_name(pin_data), L"New");
    EXPECT_EQ(item_link_path(pin_data), (group_folder / L"3. New.lnk").wstring());
    EXPECT_EQ(item_path(pin_data), target);
    EXPECT_EQ(pin_data->order, 4);

    ASSERT_EQ(folder->SetNameOf(nullptr, group.get(), L"Travel", SHGDN_NORMAL, &out), S_OK);
    unique_child_id renamed_group(out);
    EXPECT_TRUE(std::filesystem::exists(scratch.path() / L"2. Travel" / L"3. New.lnk"));
    EXPECT_EQ(item_path(own_item_data(renamed_group.get())), (scratch.path() / L"2. Travel").wstring());
    EXPECT_EQ(item_display_name(own_item_data(renamed_group.get())), L"Travel");

    // Bad arguments.
    const auto organised = create_folder_item({.name = L"Photos"});
    const std::tuple<const char*, PCUITEMID_CHILD, const wchar_t*, HRESULT> rows[] = {
        {"no child", nullptr, L"x", E_INVALIDARG},
        {"no name", organised.get(), nullptr, E_INVALIDARG},
        {"empty name", organised.get(), L"", E_INVALIDARG},
    };
    for (const auto& [name, child, new_name, expected] : rows)
    {
        SCOPED_TRACE(name);
        out = reinterpret_cast<PITEMID_CHILD>(1);
        EXPECT_EQ(hex(folder->SetNameOf(nullptr, child, new_name, SHGDN_NORMAL, &out)), hex(expected));
        EXPECT_EQ(out, nullptr);
    }
}
} // namespace
