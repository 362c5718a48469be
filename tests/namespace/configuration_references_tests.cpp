// "$tags[" and "$people[" references in configured texts: replacement, reading an index, and the rules
// that hide folders and searches.

#include "namespace/configuration_references.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

namespace
{
using all_people_settings::person_record;
using all_tags_settings::tag_record;
using namespace_settings::folder_record;
using namespace_settings::query_record;

const std::vector<tag_record> two_tags = {
    {.name = L"Family", .icon_not_tagged = L"family.ico", .icon_when_tagged = L"family-on.ico"},
    {.name = L"Work"},
};
const std::vector<person_record> two_people = {
    {.name = L"\u00c5sa", .main_photo = L"C:\\Photos\\asa.jpg"},
    {.name = L"Bo"},
};

TEST(resolve_references, replaces_references_literally)
{
    struct row
    {
        const wchar_t* text;
        const wchar_t* expected;
    };
    const std::vector<row> rows = {
        {L"", L""},
        {L"no reference", L"no reference"},
        {L"$tags[0].name", L"Family"},
        {L"System.Keywords = '$tags[1].name'", L"System.Keywords = 'Work'"},
        {L"$tags[1].name, $tags[0].name and $tags[0].name", L"Work, Family and Family"},
        {L"$tags[0].name$tags[0].name", L"FamilyFamily"},
        {L"$tags[0].icon", L"family.ico"},
        {L"$tags[0].icon_not_tagged", L"family.ico"},
        // The icon reference is matched as text, so it also matches the start of a longer word, even the
        // when-tagged icon that has no reference of its own.
        {L"$tags[0].icons", L"family.icos"},
        {L"$tags[0].icon_when_tagged", L"family.ico_when_tagged"},
        // No icon: both icon references stay as written.
        {L"$tags[1].icon|$tags[1].icon_not_tagged", L"$tags[1].icon|$tags[1].icon_not_tagged"},
        {L"$tags[2].name", L"$tags[2].name"},
        {L"$tags[10].name", L"$tags[10].name"},
        {L"$tags[00].name", L"$tags[00].name"},
        {L"$tags[-0].name", L"$tags[-0].name"},
        {L"$TAGS[0].name $tags[0].Name", L"$TAGS[0].name $tags[0].Name"},
        {L"$tags[0]", L"$tags[0]"},
        {L"$people[0].name: $people[0].main_photo", L"\u00c5sa: C:\\Photos\\asa.jpg"},
        {L"$people[1].name $people[1].main_photo", L"Bo $people[1].main_photo"},
        {L"$people[2].name", L"$people[2].name"},
        {L"$tags[1].name of $people[1].name", L"Work of Bo"},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(r.text)));
        EXPECT_EQ(resolve_references(r.text, two_tags, two_people), r.expected);
    }
}

TEST(resolve_references, values_holding_references_resolve_only_later_ones)
{
    struct row
    {
        const char* name;
        std::vector<tag_record> tags;
        std::vector<person_record> people;
        const wchar_t* text;
        const wchar_t* expected;
    };
    const std::vector<row> rows = {
        {"a tag whose name refers to a later tag", {{.name = L"<$tags[1].name>"}, {.name = L"Work"}}, {},
         L"$tags[0].name", L"<Work>"},
        {"a tag whose name refers to an earlier tag", {{.name = L"Family"}, {.name = L"<$tags[0].name>"}}, {},
         L"$tags[1].name", L"<$tags[0].name>"},
        {"a tag whose name refers to itself is not scanned again", {{.name = L"x$tags[0].name"}}, {},
         L"$tags[0].name|$tags[0].name", L"x$tags[0].name|x$tags[0].name"},
        {"a tag whose name refers to a person", {{.name = L"with $people[0].name"}}, {{.name = L"Bo"}},
         L"$tags[0].name", L"with Bo"},
        {"a person whose name refers to a tag", {{.name = L"Family"}}, {{.name = L"$tags[0].name"}},
         L"$people[0].name", L"$tags[0].name"},
        {"a tag name that makes an icon reference", {{.name = L"$tags[0].icon", .icon_not_tagged = L"i.ico"}}, {},
         L"$tags[0].name", L"i.ico"},
        {"the eleventh tag is not mistaken for the second",
         std::vector<tag_record>(11, tag_record{.name = L"t"}), {}, L"$tags[1].name/$tags[10].name", L"t/t"},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(resolve_references(r.text, r.tags, r.people), r.expected);
    }
}

TEST(reference_index, reads_the_number_between_the_prefix_and_the_first_bracket)
{
    struct row
    {
        const wchar_t* text;
        const wchar_t* prefix;
        std::optional<std::int32_t> expected;
    };
    const std::vector<row> rows = {
        {L"$tags[3].name", L"$tags[", 3},
        {L"$tags[0]", L"$tags[", 0},
        {L"$people[12].main_photo", L"$people[", 12},
        {L"$tags[2147483647].name", L"$tags[", INT_MAX},
        {L"$tags[ 7].name", L"$tags[", 7},
        {L"$tags[12x].name", L"$tags[", 12},
        {L"$tags[-1].name", L"$tags[", -1},
        {L"$tags[1]]", L"$tags[", 1},
        {L"x$tags[3].name", L"$tags[", std::nullopt},
        {L" $tags[3].name", L"$tags[", std::nullopt},
        {L"$tags[3.name", L"$tags[", std::nullopt},
        {L"$tags[].name", L"$tags[", std::nullopt},
        {L"$tags[x1].name", L"$tags[", std::nullopt},
        {L"$tags[2147483648].name", L"$tags[", std::nullopt},
        {L"$tags[99999999999999999999].name", L"$tags[", std::nullopt},
        {L"$people[1].name", L"$tags[", std::nullopt},
        {L"$tags", L"$tags[", std::nullopt},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(r.text)));
        EXPECT_EQ(reference_index(r.text, r.prefix), r.expected);
    }
}

TEST(query_excluded, hides_searches_that_refer_past_the_end_or_are_switched_off)
{
    struct row
    {
        query_record query;
        std::size_t tags, people;
        bool expected;
    };
    const std::vector<row> rows = {
        {{.name = L"$tags[1].name"}, 2, 0, false},
        {{.name = L"$tags[2].name"}, 2, 0, true},
        {{.name = L"$tags[0].name"}, 0, 5, true},
        {{.name = L"$tags[2].icon"}, 2, 0, true},
        {{.name = L"$tags[2]"}, 2, 0, true},
        {{.name = L"$people[0].name"}, 0, 1, false},
        {{.name = L"$people[1].name"}, 5, 1, true},
        // Only a reference at the very start hides the search.
        {{.name = L"Photos of $tags[5].name"}, 2, 0, false},
        {{.name = L" $people[9].name"}, 0, 0, false},
        // No index can be read: nothing to compare.
        {{.name = L"$tags[x].name"}, 0, 0, false},
        {{.name = L"$tags[99999999999].name"}, 2, 0, false},
        {{.name = L"$tags[-1].name"}, 2, 0, false},
        // The rule reads the name only.
        {{.name = L"Plain", .query = L"$tags[7].name", .target = L"$people[7].name"}, 0, 0, false},
        {{.name = L"Plain", .enabled = false}, 0, 0, true},
        {{.name = L"Plain", .enabled = true}, 0, 0, false},
        {{.name = L"$tags[0].name", .enabled = false}, 2, 0, true},
        {{.name = L"$tags[4].name", .enabled = true}, 2, 0, true},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(testing::PrintToString(r.query.name) + " tags " + std::to_string(r.tags) + " people " +
                     std::to_string(r.people));
        EXPECT_EQ(query_excluded(r.query, r.tags, r.people), r.expected);
    }
}

TEST(query_excluded, a_search_shown_under_the_second_tag_carries_its_name)
{
    all_tags_settings::settings_file tags(nullptr);
    all_people_settings::settings_file people(nullptr);
    tags.tags() = two_tags;
    const query_record second{.name = L"$tags[1].name"};
    const query_record third{.name = L"$tags[2].name"};
    EXPECT_FALSE(query_excluded(second, tags, people));
    EXPECT_EQ(resolve_references(second.name, tags, people), L"Work");
    EXPECT_TRUE(query_excluded(third, tags, people));
}

TEST(folder_excluded, hides_disabled_folders_and_folders_of_quick_pins)
{
    struct row
    {
        const char* name;
        folder_record folder;
        bool expected;
    };
    const std::vector<row> rows = {
        {"no queries", {.name = L"F"}, false},
        {"enabled", {.enabled = true, .queries = {{.name = L"Q"}}}, false},
        {"disabled", {.enabled = false}, true},
        {"a query named after a quick pins group",
         {.queries = {{.name = L"Q"}, {.name = L"Pins: $quick_pins[0].name"}}}, true},
        {"a query whose target names a quick pins group",
         {.queries = {{.name = L"Q", .target = L"$quick_pins[2].path"}}}, true},
        {"the rule does not read the query text or the hint",
         {.queries = {{.name = L"Q", .hint = L"$quick_pins[0]", .icon = L"$quick_pins[0]",
                       .query = L"$quick_pins[0]", .action_parameters = L"$quick_pins[0]"}}},
         false},
        {"the prefix is case-sensitive", {.queries = {{.name = L"$QUICK_PINS[0]", .target = L"$Quick_Pins[0]"}}},
         false},
        {"an empty target", {.queries = {{.name = L"Q", .target = L""}}}, false},
        {"a disabled query does not shield its folder",
         {.queries = {{.name = L"$quick_pins[0].name", .enabled = false}}}, true},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(folder_excluded(r.folder), r.expected);
    }
}
} // namespace
