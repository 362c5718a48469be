// "$tags[" and "$people[" references in configured texts: replacement, reading an index, and the rules
// that hide folders and searches (their general properties on any text: the references fuzzer).

#include "items/configuration_references.h"

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

const std::vector<tag_record> two_tags = {{.name = L"Family", .icon_not_tagged = L"family.ico"}, {.name = L"Work"}};
const std::vector<person_record> two_people = {{.name = L"\u00c5sa", .main_photo = L"C:\\asa.jpg"}, {.name = L"Bo"}};

TEST(resolve_references, replaces_references_literally_and_values_only_by_later_steps)
{
    struct row
    {
        const wchar_t* text;
        const wchar_t* expected;
        std::vector<tag_record> tags = two_tags;
        std::vector<person_record> people = two_people;
    };
    const row rows[] = {
        {L"Keywords = '$tags[1].name', $tags[0].name$tags[0].name", L"Keywords = 'Work', FamilyFamily"},
        {L"$tags[0].icon|$tags[0].icon_not_tagged", L"family.ico|family.ico"},
        // The icon reference is matched as text, so it also matches the start of a longer word.
        {L"$tags[0].icons $tags[0].icon_when_tagged", L"family.icos family.ico_when_tagged"},
        {L"$tags[1].icon|$tags[1].icon_not_tagged", L"$tags[1].icon|$tags[1].icon_not_tagged"},
        {L"$tags[2].name $tags[00].name $tags[-0].name $tags[0]", L"$tags[2].name $tags[00].name $tags[-0].name $tags[0]"},
        {L"$TAGS[0].name $tags[0].Name", L"$TAGS[0].name $tags[0].Name"},
        {L"$people[0].name: $people[0].main_photo", L"\u00c5sa: C:\\asa.jpg"},
        {L"$people[1].name $people[1].main_photo $people[2].name", L"Bo $people[1].main_photo $people[2].name"},
        {L"$tags[1].name of $people[1].name", L"Work of Bo"},
        // Values that hold references: only later indexes and the people list still replace them.
        {L"$tags[0].name", L"<Work>", {{.name = L"<$tags[1].name>"}, {.name = L"Work"}}},
        {L"$tags[1].name", L"<$tags[0].name>", {{.name = L"Family"}, {.name = L"<$tags[0].name>"}}},
        {L"$tags[0].name|$tags[0].name", L"x$tags[0].name|x$tags[0].name", {{.name = L"x$tags[0].name"}}},
        {L"$tags[0].name", L"with Bo", {{.name = L"with $people[1].name"}}},
        {L"$people[0].name", L"$tags[0].name", {{.name = L"Family"}}, {{.name = L"$tags[0].name"}}},
        {L"$tags[0].name", L"i.ico", {{.name = L"$tags[0].icon", .icon_not_tagged = L"i.ico"}}},
        {L"$tags[1].name/$tags[10].name", L"t/t", std::vector<tag_record>(11, tag_record{.name = L"t"})},
    };
    for (const auto& r : rows)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(r.text)));
        EXPECT_EQ(resolve_references(r.text, r.tags, r.people), r.expected);
    }
}

TEST(reference_index, reads_the_number_between_the_prefix_and_the_first_bracket)
{
    const std::pair<const wchar_t*, std::optional<std::int32_t>> rows[] = {
        {L"$tags[3].name", 3}, {L"$tags[0]", 0}, {L"$tags[2147483647].name", INT_MAX}, {L"$tags[ 7].name", 7},
        {L"$tags[12x].name", 12}, {L"$tags[-1].name", -1}, {L"$tags[1]]", 1},
        {L"$tags[].name", std::nullopt}, {L"$tags[x1].name", std::nullopt}, {L"$tags[2147483648].name", std::nullopt},
    };
    for (const auto& [text, expected] : rows)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(text)));
        EXPECT_EQ(reference_index(text, L"$tags["), expected);
    }
    EXPECT_EQ(reference_index(L"$people[12].main_photo", L"$people["), 12);
}

TEST(query_excluded, hides_searches_that_refer_past_the_end_or_are_switched_off)
{
    const std::tuple<query_record, std::size_t, std::size_t, bool> rows[] = {
        {{.name = L"$tags[1].name"}, 2, 0, false},
        {{.name = L"$tags[2].name"}, 2, 0, true},
        {{.name = L"$tags[0].name"}, 0, 5, true},
        {{.name = L"$tags[2]"}, 2, 0, true},
        {{.name = L"$people[0].name"}, 0, 1, false},
        {{.name = L"$people[1].name"}, 5, 1, true},
        // A reference whose index cannot be read, or is negative, hides nothing.
        {{.name = L"$tags[x].name"}, 0, 0, false},
        {{.name = L"$tags[99999999999].name"}, 2, 0, false},
        {{.name = L"$tags[-1].name"}, 2, 0, false},
        {{.name = L"$tags[4].name", .enabled = true}, 2, 0, true},
    };
    for (const auto& [query, tags, people, expected] : rows)
    {
        SCOPED_TRACE(testing::PrintToString(query.name) + " tags " + std::to_string(tags) + " people " +
                     std::to_string(people));
        EXPECT_EQ(query_excluded(query, tags, people), expected);
    }
}

TEST(folder_excluded, hides_disabled_folders_and_folders_of_quick_pins)
{
    const std::tuple<const char*, folder_record, bool> rows[] = {
        {"no queries", {.name = L"F"}, false},
        {"enabled", {.enabled = true, .queries = {{.name = L"Q"}}}, false},
        {"disabled", {.enabled = false}, true},
        {"a query whose target names a quick pins group", {.queries = {{.name = L"Q", .target = L"$quick_pins[2]"}}},
         true},
        {"the rule does not read the query text, hint, icon or parameters",
         {.queries = {{.name = L"Q", .hint = L"$quick_pins[0]", .icon = L"$quick_pins[0]", .query = L"$quick_pins[0]",
                       .action_parameters = L"$quick_pins[0]"}}},
         false},
        {"a disabled query does not shield its folder", {.queries = {{.name = L"$quick_pins[0]", .enabled = false}}},
         true},
    };
    for (const auto& [name, folder, expected] : rows)
    {
        SCOPED_TRACE(name);
        EXPECT_EQ(folder_excluded(folder), expected);
    }
}
} // namespace
