// The configuration a user gets on first start: the default copies of "Namespace.json", "All Tags.json"
// and "All People.json" seeded into an empty settings folder, as the root and its folders show them.

#include "namespace/configuration_references.h"

#include "diagnostics/log.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <system_error>
#include <vector>

namespace
{
using namespace_settings::folder_record;
using namespace_settings::query_record;

std::filesystem::path settings_file_path(const wchar_t* name)
{
    return test_support::settings_folder() / name;
}

void remove_user_configuration()
{
    std::error_code ec;
    for (const auto* name : {L"Namespace.json", L"All Tags.json", L"All People.json"})
        std::filesystem::remove(settings_file_path(name), ec);
}

class default_configuration : public ::testing::Test
{
protected:
    void SetUp() override
    {
        remove_user_configuration();
        // Loaded in the order the namespace loads them.
        ASSERT_TRUE(namespace_file.load(false));
        ASSERT_TRUE(tags.load(false));
        ASSERT_TRUE(people.load(false));
    }
    void TearDown() override { remove_user_configuration(); }

    const folder_record& folder(const wchar_t* name) const
    {
        const auto& folders = namespace_file.folders();
        const auto it = std::find_if(folders.begin(), folders.end(), [&](const auto& f) { return f.name == name; });
        if (it == folders.end())
        {
            ADD_FAILURE() << "no folder " << to_utf8(name);
            static const folder_record none;
            return none;
        }
        return *it;
    }

    // The searches of a folder that the folder shows, in file order.
    std::vector<const query_record*> shown(const folder_record& f) const
    {
        std::vector<const query_record*> result;
        for (const auto& query : f.queries)
            if (!query_excluded(query, tags, people))
                result.push_back(&query);
        return result;
    }

    std::wstring resolved(const std::wstring& text) const { return resolve_references(text, tags, people); }

    test_support::log_capture log;
    namespace_settings::settings_file namespace_file{nullptr};
    all_tags_settings::settings_file tags{nullptr};
    all_people_settings::settings_file people{nullptr};
};

TEST_F(default_configuration, is_seeded_from_the_copies_beside_the_module)
{
    const common::setting_utilities::common_settings_file* files[] = {&namespace_file, &tags, &people};
    for (const auto* file : files)
    {
        SCOPED_TRACE(to_utf8(file->file_name()));
        const auto source = common::setting_utilities::defaults_folder(nullptr) / file->file_name();
        EXPECT_EQ(source.parent_path(), test_support::executable_folder() / L"Content" / L"Configurations");
        EXPECT_TRUE(log.contains("INFO Copied default settings from " + to_utf8(source.wstring()) + " to " +
                                 to_utf8(file->full_path())));
        EXPECT_EQ(test_support::read_file(file->full_path()), test_support::read_file(source));
    }
}

TEST_F(default_configuration, the_root_shows_four_organised_folders)
{
    std::vector<std::wstring> names;
    for (const auto& f : namespace_file.folders())
    {
        SCOPED_TRACE(to_utf8(f.name));
        EXPECT_FALSE(folder_excluded(f));
        EXPECT_EQ(f.enabled, true);
        EXPECT_TRUE(f.order.has_value());
        EXPECT_TRUE(f.hint.has_value() && !f.hint->empty());
        EXPECT_FALSE(f.icon.empty());
        names.push_back(f.name);
    }
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Ratings", L"Tags", L"People", L"Recent files"}));
    EXPECT_EQ(namespace_file.version(), L"1.0");
}

// "System.Rating >= a" or "System.Rating >= a AND System.Rating <= b".
bool rating_query_matches(const std::wstring& query, int rating)
{
    static const std::wregex form(LR"(System\.Rating >= (\d+)(?: AND System\.Rating <= (\d+))?)");
    std::wsmatch match;
    if (!std::regex_match(query, match, form))
    {
        ADD_FAILURE() << "unexpected rating query " << to_utf8(query);
        return false;
    }
    const int low = std::stoi(match[1].str());
    const int high = match[2].matched ? std::stoi(match[2].str()) : 100;
    return rating >= low && rating <= high;
}

TEST_F(default_configuration, ratings_has_one_search_per_star_count_that_rates_what_is_dropped_on_it)
{
    const auto searches = shown(folder(L"Ratings"));
    ASSERT_EQ(searches.size(), 5u);
    for (const auto* search : searches)
    {
        const std::wstring name = resolved(search->name);
        SCOPED_TRACE(to_utf8(name));
        // The drop target rates by the number of star characters in the name.
        EXPECT_EQ(name.find_first_not_of(L'\u2605'), std::wstring::npos);
        EXPECT_EQ(search->action_type, L"set_rating");
        EXPECT_EQ(search->action_parameters, std::to_wstring(name.size()));
    }
    // Windows stores one to five stars as 1, 25, 50, 75 and 99; every stored value 1 to 99 belongs to
    // exactly one search, and the stars' own values to the search with that many stars.
    const int stars_value[] = {0, 1, 25, 50, 75, 99};
    for (int value = 0; value <= 100; ++value)
    {
        SCOPED_TRACE(value);
        int matching = 0;
        for (const auto* search : searches)
        {
            if (!rating_query_matches(search->query, value))
                continue;
            ++matching;
            for (int stars = 1; stars <= 5; ++stars)
            {
                if (stars_value[stars] == value)
                {
                    EXPECT_EQ(search->name.size(), static_cast<size_t>(stars));
                }
            }
        }
        EXPECT_EQ(matching, value == 0 ? 0 : 1);
    }
}

TEST_F(default_configuration, tags_shows_one_search_per_tag_under_its_name)
{
    ASSERT_EQ(tags.tags().size(), 6u);
    EXPECT_GT(tags.window_height(), 0);
    EXPECT_GT(tags.window_width(), 0);
    const auto searches = shown(folder(L"Tags"));
    ASSERT_EQ(searches.size(), tags.tags().size());
    for (size_t i = 0; i < searches.size(); ++i)
    {
        const auto& tag = tags.tags()[i];
        SCOPED_TRACE(to_utf8(tag.name));
        EXPECT_EQ(tag.order, static_cast<std::int32_t>(i + 1));
        EXPECT_TRUE(tag.icon_not_tagged && tag.icon_when_tagged && tag.keyboard);
        const auto& search = *searches[i];
        EXPECT_EQ(resolved(search.name), tag.name);
        EXPECT_EQ(resolved(search.query), L"System.Keywords = '" + tag.name + L"'");
        EXPECT_EQ(resolved(search.icon), tag.icon_not_tagged.value_or(L""));
        EXPECT_EQ(search.action_type, L"toggle_tags");
        EXPECT_EQ(resolved(search.action_parameters.value_or(L"")), tag.name);
    }
    std::vector<std::wstring> names;
    for (const auto& tag : tags.tags())
        names.push_back(tag.name);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Favourites", L"Family", L"Friends", L"Travel", L"Work", L"To sort"}));
    // Room for the tags a user adds later: a new tag shows up without editing the namespace file.
    tags.tags().push_back({.name = L"Garden"});
    const auto more = shown(folder(L"Tags"));
    ASSERT_EQ(more.size(), 7u);
    EXPECT_EQ(resolved(more.back()->name), L"Garden");
}

TEST_F(default_configuration, people_is_empty_until_someone_is_recognised)
{
    EXPECT_TRUE(people.people().empty());
    const auto& f = folder(L"People");
    EXPECT_EQ(f.default_view, L"extra_large_icons");
    EXPECT_FALSE(f.queries.empty());
    EXPECT_TRUE(shown(f).empty());

    people.people().push_back({.name = L"\u00c5sa", .main_photo = L"C:\\Photos\\asa.jpg"});
    const auto searches = shown(f);
    ASSERT_EQ(searches.size(), 1u);
    EXPECT_EQ(resolved(searches[0]->name), L"\u00c5sa");
    EXPECT_EQ(resolved(searches[0]->query), L"System.Photo.PeopleNames = '\u00c5sa'");
}

TEST_F(default_configuration, recent_files_lists_three_periods)
{
    const auto searches = shown(folder(L"Recent files"));
    std::vector<std::wstring> names;
    for (const auto* search : searches)
    {
        names.push_back(search->name);
        EXPECT_NE(search->query.find(L"System.DateModified >= DATEADD("), std::wstring::npos);
        EXPECT_NE(search->query.find(L"GETGMTDATE()"), std::wstring::npos);
    }
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Last 24 hours", L"Last 7 days", L"Last 30 days"}));
}

TEST_F(default_configuration, every_shown_search_is_a_complete_where_clause_fragment)
{
    for (const auto& f : namespace_file.folders())
    {
        for (const auto* search : shown(f))
        {
            const std::wstring query = resolved(search->query);
            SCOPED_TRACE(to_utf8(f.name + L"\\" + resolved(search->name) + L": " + query));
            EXPECT_FALSE(query.empty());
            EXPECT_EQ(query.find(L'$'), std::wstring::npos);
            EXPECT_EQ(std::count(query.begin(), query.end(), L'\'') % 2, 0);
            EXPECT_EQ(std::count(query.begin(), query.end(), L'('), std::count(query.begin(), query.end(), L')'));
            EXPECT_EQ(resolved(search->icon).find(L'$'), std::wstring::npos);
            EXPECT_FALSE(search->target.has_value());
            EXPECT_TRUE(search->order.has_value());
            EXPECT_NE(search->enabled, false);
        }
    }
}

TEST_F(default_configuration, is_already_in_the_layout_that_write_produces)
{
    // A default written back unchanged keeps its bytes, so the Settings app's diff of the first save
    // shows only what the user changed.
    const std::string namespace_default = test_support::read_file(settings_file_path(L"Namespace.json"));
    const std::string tags_default = test_support::read_file(settings_file_path(L"All Tags.json"));
    EXPECT_EQ(namespace_file.to_json(), namespace_default);
    EXPECT_EQ(tags.to_json(), tags_default);
}
} // namespace
