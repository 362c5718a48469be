// The configuration a user gets on first start: the default copies of "Namespace.json", "All Tags.json"
// and "All People.json" seeded into an empty settings folder, as the root and its folders show them.

#include "folder_test_support.h"

#include "items/configuration_references.h"

#include <algorithm>
#include <regex>

namespace
{
using namespace_settings::folder_record;
using namespace_settings::query_record;

class default_configuration : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder_test::remove_user_configuration();
        // Loaded in the order the namespace loads them.
        ASSERT_TRUE(namespace_file.load(false));
        ASSERT_TRUE(tags.load(false));
        ASSERT_TRUE(people.load(false));
    }
    void TearDown() override { folder_test::remove_user_configuration(); }

    // The searches that the folder of this name shows, in file order.
    std::vector<const query_record*> shown(const wchar_t* name) const
    {
        const auto& folders = namespace_file.folders();
        const auto f = std::find_if(folders.begin(), folders.end(), [&](const auto& f) { return f.name == name; });
        std::vector<const query_record*> result;
        if (f == folders.end())
            ADD_FAILURE() << "no folder " << to_utf8(name);
        else
            for (const auto& query : f->queries)
                if (!query_excluded(query, tags, people))
                    result.push_back(&query);
        return result;
    }
    std::wstring resolved(const std::wstring& text) const { return resolve_references(text, tags, people); }

    namespace_settings::settings_file namespace_file{nullptr};
    all_tags_settings::settings_file tags{nullptr};
    all_people_settings::settings_file people{nullptr};
};

// Seeded from the copies beside the module (settings_file_tests) and written back unchanged, a default
// keeps its bytes: the Settings app's first save shows only what the user changed.
TEST_F(default_configuration, is_in_the_layout_write_produces)
{
    using settings_file = common::setting_utilities::common_settings_file;
    for (settings_file* file : std::initializer_list<settings_file*>{&namespace_file, &tags})
    {
        SCOPED_TRACE(to_utf8(file->file_name()));
        ASSERT_TRUE(file->write());
        EXPECT_EQ(test_support::read_file(file->full_path()),
                  test_support::read_file(test_support::executable_folder() / L"Content" / L"Configurations" /
                                          file->file_name()));
    }
}

TEST_F(default_configuration, the_root_shows_four_folders_of_complete_searches)
{
    std::vector<std::wstring> names;
    for (const auto& f : namespace_file.folders())
    {
        names.push_back(f.name);
        EXPECT_TRUE(!folder_excluded(f) && f.order && f.hint && !f.icon.empty()) << to_utf8(f.name);
        for (const auto* search : shown(f.name.c_str()))
        {
            const std::wstring query = resolved(search->query);
            EXPECT_TRUE(!query.empty() && query.find(L'$') == std::wstring::npos &&
                        std::count(query.begin(), query.end(), L'\'') % 2 == 0 &&
                        std::count(query.begin(), query.end(), L'(') == std::count(query.begin(), query.end(), L')') &&
                        resolved(search->icon).find(L'$') == std::wstring::npos && !search->target && search->order)
                << to_utf8(f.name + L"\\" + resolved(search->name) + L": " + query);
        }
    }
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Ratings", L"Tags", L"People", L"Recent files"}));
}

TEST_F(default_configuration, ratings_has_one_search_per_star_count_that_rates_what_is_dropped_on_it)
{
    const auto searches = shown(L"Ratings");
    ASSERT_EQ(searches.size(), 5u);
    // Windows stores one to five stars as 1, 25, 50, 75 and 99; every stored value 1 to 99 belongs to
    // exactly one search, and each of those values to the search with that many stars.
    const int stars_value[] = {0, 1, 25, 50, 75, 99};
    std::vector<int> matches(101);
    for (const auto* search : searches)
    {
        const std::wstring name = resolved(search->name);
        SCOPED_TRACE(to_utf8(name));
        // The drop target rates by the number of star characters in the name.
        EXPECT_EQ(name.find_first_not_of(L'\u2605'), std::wstring::npos);
        ASSERT_TRUE(name.size() >= 1 && name.size() <= 5);
        EXPECT_EQ(search->action_type, L"set_rating");
        EXPECT_EQ(search->action_parameters, std::to_wstring(name.size()));
        std::wsmatch match;
        ASSERT_TRUE(std::regex_match(search->query, match,
                                     std::wregex(LR"(System\.Rating >= (\d+)(?: AND System\.Rating <= (\d+))?)")));
        const int low = std::stoi(match[1].str()), high = match[2].matched ? std::stoi(match[2].str()) : 100;
        for (int value = low; value <= high; ++value)
            ++matches[static_cast<size_t>(value)];
        EXPECT_TRUE(low <= stars_value[name.size()] && stars_value[name.size()] <= high);
    }
    for (int value = 0; value <= 100; ++value)
        EXPECT_EQ(matches[static_cast<size_t>(value)], value == 0 ? 0 : 1) << value;
}

TEST_F(default_configuration, tags_and_people_show_one_search_each_under_its_name)
{
    EXPECT_FALSE(tags.tags().empty());
    const auto searches = shown(L"Tags");
    ASSERT_EQ(searches.size(), tags.tags().size());
    for (size_t i = 0; i < searches.size(); ++i)
    {
        const auto& tag = tags.tags()[i];
        SCOPED_TRACE(to_utf8(tag.name));
        EXPECT_EQ(tag.order, static_cast<std::int32_t>(i + 1));
        EXPECT_TRUE(tag.icon_not_tagged && tag.icon_when_tagged && tag.keyboard);
        EXPECT_EQ(resolved(searches[i]->name), tag.name);
        EXPECT_EQ(resolved(searches[i]->query), L"System.Keywords = '" + tag.name + L"'");
        EXPECT_EQ(resolved(searches[i]->icon), tag.icon_not_tagged.value_or(L""));
        EXPECT_EQ(searches[i]->action_type, L"toggle_tags");
        EXPECT_EQ(resolved(searches[i]->action_parameters.value_or(L"")), tag.name);
    }
    // Room for what the user adds later, without editing the namespace file.
    tags.tags().push_back({.name = L"Garden"});
    ASSERT_EQ(shown(L"Tags").size(), searches.size() + 1);
    EXPECT_EQ(resolved(shown(L"Tags").back()->name), L"Garden");

    EXPECT_TRUE(people.people().empty());
    EXPECT_TRUE(shown(L"People").empty());
    EXPECT_EQ(namespace_file.folders()[2].default_view, L"extra_large_icons");
    people.people().push_back({.name = L"\u00c5sa", .main_photo = L"C:\\Photos\\asa.jpg"});
    const auto person = shown(L"People");
    ASSERT_EQ(person.size(), 1u);
    EXPECT_EQ(resolved(person[0]->name), L"\u00c5sa");
    EXPECT_EQ(resolved(person[0]->query), L"System.Photo.PeopleNames = '\u00c5sa'");
}
} // namespace
