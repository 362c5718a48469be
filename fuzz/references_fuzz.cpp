// Configuration references and variable resolution on arbitrary texts and lists of any size. The input
// is parts separated by 0x1E: the text, the tags, the people, the selected paths and the primary paths;
// list elements are separated by 0x1F, and a tag's name from its icon (a person's from the photo) by
// 0x1D. Texts are UTF-8 that may encode lone surrogates; other bytes stand for themselves.

#include "fuzz_support.h"
#include "platform.h"

#include "quick_pins/variable_resolution.h"
#include "items/configuration_references.h"

#include <cstddef>
#include <cstdint>

namespace
{
using fuzz_support::split;
using fuzz_support::wide_text;

std::vector<std::string_view> list_part(const std::vector<std::string_view>& parts, std::size_t index)
{
    if (index >= parts.size() || parts[index].empty())
        return {};
    return split(parts[index], '\x1F');
}

std::vector<std::wstring> texts(const std::vector<std::string_view>& elements)
{
    std::vector<std::wstring> result;
    for (const auto element : elements)
        result.push_back(wide_text(element));
    return result;
}

bool contains(std::wstring_view text, std::wstring_view what)
{
    return text.find(what) != std::wstring_view::npos;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto parts = split(std::string_view(reinterpret_cast<const char*>(data), size), '\x1E');
    const std::wstring text = wide_text(parts[0]);

    std::vector<all_tags_settings::tag_record> tags;
    for (const auto element : list_part(parts, 1))
    {
        const auto fields = split(element, '\x1D');
        auto& tag = tags.emplace_back();
        tag.name = wide_text(fields[0]);
        if (fields.size() > 1)
            tag.icon_not_tagged = wide_text(fields[1]);
    }
    std::vector<all_people_settings::person_record> people;
    for (const auto element : list_part(parts, 2))
    {
        const auto fields = split(element, '\x1D');
        auto& person = people.emplace_back();
        person.name = wide_text(fields[0]);
        if (fields.size() > 1)
            person.main_photo = wide_text(fields[1]);
    }

    const std::wstring resolved = resolve_references(text, tags, people);
    if (!contains(text, L"$tags[") && !contains(text, L"$people["))
        FUZZ_REQUIRE(resolved == text);

    for (const std::wstring_view prefix : {L"$tags[", L"$people[", L"$quick_pins["})
    {
        if (reference_index(text, prefix))
            FUZZ_REQUIRE(text.starts_with(prefix) && text.find(L']') != std::wstring::npos);
    }

    namespace_settings::query_record query{.name = text, .query = resolved, .target = resolved};
    const bool excluded = query_excluded(query, tags.size(), people.size());
    if (!text.starts_with(L"$tags[") && !text.starts_with(L"$people["))
        FUZZ_REQUIRE(!excluded);
    query.enabled = false;
    FUZZ_REQUIRE(query_excluded(query, tags.size(), people.size()));
    const namespace_settings::folder_record folder{.name = resolved, .queries = {query, {.name = text}}};
    FUZZ_REQUIRE(folder_excluded(folder) == (contains(text, L"$quick_pins[") || contains(resolved, L"$quick_pins[")));

    fuzz_platform::logged_lines().clear();
    const std::wstring variables =
        resolve_variables(text, nullptr, texts(list_part(parts, 3)), texts(list_part(parts, 4)));
    if (!contains(text, L"$") && !contains(text, L"%"))
        FUZZ_REQUIRE(variables == text);
    for (const auto& line : fuzz_platform::logged_lines())
        FUZZ_REQUIRE(line.starts_with("3 variable_resolution: unknown "));
    return 0;
}
