#include "items/configuration_references.h"

#include <cwctype>
#include <limits>

namespace
{
constexpr std::wstring_view tags_prefix = L"$tags[";
constexpr std::wstring_view people_prefix = L"$people[";
constexpr std::wstring_view quick_pins_prefix = L"$quick_pins[";

std::wstring reference(std::wstring_view prefix, std::size_t index, std::wstring_view member)
{
    std::wstring text(prefix);
    text += std::to_wstring(index);
    text += L"].";
    text += member;
    return text;
}

// Literal, case-sensitive; the search goes on after the inserted value, so a value that holds the
// same reference is not replaced again.
void replace_all(std::wstring& text, std::wstring_view what, std::wstring_view value)
{
    for (auto at = text.find(what); at != std::wstring::npos; at = text.find(what, at + value.size()))
        text.replace(at, what.size(), value);
}

bool contains(std::wstring_view text, std::wstring_view what) noexcept
{
    return text.find(what) != std::wstring_view::npos;
}

// Whether text starts with a reference of prefix whose index is not below count. A negative index is
// below every count.
bool refers_past_end(std::wstring_view text, std::wstring_view prefix, std::size_t count)
{
    const auto index = reference_index(text, prefix);
    return index && *index >= 0 && static_cast<std::uint64_t>(*index) >= count;
}
} // namespace

std::wstring resolve_references(std::wstring_view text, const std::vector<all_tags_settings::tag_record>& tags,
                                const std::vector<all_people_settings::person_record>& people)
{
    std::wstring result(text);
    // Most configured texts hold no reference at all; a value can only bring in one where it replaced
    // another, so once the prefix is gone the rest of the list has nothing to do.
    for (std::size_t i = 0; i < tags.size() && contains(result, tags_prefix); ++i)
    {
        const auto& tag = tags[i];
        replace_all(result, reference(tags_prefix, i, L"name"), tag.name);
        if (tag.icon_not_tagged)
        {
            // The longer reference first: "$tags[0].icon" is the start of "$tags[0].icon_not_tagged".
            replace_all(result, reference(tags_prefix, i, L"icon_not_tagged"), *tag.icon_not_tagged);
            replace_all(result, reference(tags_prefix, i, L"icon"), *tag.icon_not_tagged);
        }
    }
    for (std::size_t j = 0; j < people.size() && contains(result, people_prefix); ++j)
    {
        const auto& person = people[j];
        replace_all(result, reference(people_prefix, j, L"name"), person.name);
        if (person.main_photo)
            replace_all(result, reference(people_prefix, j, L"main_photo"), *person.main_photo);
    }
    return result;
}

std::wstring resolve_references(std::wstring_view text, const all_tags_settings::settings_file& tags,
                                const all_people_settings::settings_file& people)
{
    return resolve_references(text, tags.tags(), people.people());
}

std::optional<std::int32_t> reference_index(std::wstring_view text, std::wstring_view prefix)
{
    if (text.substr(0, prefix.size()) != prefix)
        return std::nullopt;
    const auto close = text.find(L']', prefix.size());
    if (close == std::wstring_view::npos)
        return std::nullopt;
    // Read as the C library reads an integer: white space, one sign, then the digits up to the first
    // other character. No digits, or a value beyond 32 bits, is no number.
    const std::wstring_view number = text.substr(prefix.size(), close - prefix.size());
    std::size_t i = 0;
    while (i < number.size() && std::iswspace(number[i]))
        ++i;
    bool negative = false;
    if (i < number.size() && (number[i] == L'+' || number[i] == L'-'))
        negative = number[i++] == L'-';
    const std::size_t first_digit = i;
    long long value = 0;
    for (; i < number.size() && number[i] >= L'0' && number[i] <= L'9'; ++i)
    {
        value = value * 10 + (number[i] - L'0');
        if (value > static_cast<long long>(std::numeric_limits<std::int32_t>::max()) + 1)
            return std::nullopt;
    }
    if (i == first_digit)
        return std::nullopt;
    if (negative)
        value = -value;
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

bool folder_excluded(const namespace_settings::folder_record& folder)
{
    if (folder.enabled && !*folder.enabled)
        return true;
    for (const auto& query : folder.queries)
    {
        if (contains(query.name, quick_pins_prefix) || (query.target && contains(*query.target, quick_pins_prefix)))
            return true;
    }
    return false;
}

bool query_excluded(const namespace_settings::query_record& query, std::size_t tag_count, std::size_t person_count)
{
    if (query.enabled && !*query.enabled)
        return true;
    return refers_past_end(query.name, tags_prefix, tag_count) ||
           refers_past_end(query.name, people_prefix, person_count);
}

bool query_excluded(const namespace_settings::query_record& query, const all_tags_settings::settings_file& tags,
                    const all_people_settings::settings_file& people)
{
    return query_excluded(query, tags.tags().size(), people.people().size());
}
