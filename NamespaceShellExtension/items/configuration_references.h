#pragma once
// The references that configured texts use to name a tag or a person by its position in the tags and
// people files ("$tags[0].name", "$people[2].main_photo"), their replacement, and the rules that hide
// the folders and searches that cannot be shown.

#include "settings/all_people_settings.h"
#include "settings/all_tags_settings.h"
#include "settings/namespace_settings.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The text with every tag and person reference replaced. A reference whose index has no record, or
// whose value is absent, stays as written.
std::wstring resolve_references(std::wstring_view text, const std::vector<all_tags_settings::tag_record>& tags,
                                const std::vector<all_people_settings::person_record>& people);
std::wstring resolve_references(std::wstring_view text, const all_tags_settings::settings_file& tags,
                                const all_people_settings::settings_file& people);

// The index of a reference at the very start of text: the base-10 integer between the prefix and the
// first "]". Nothing when the text does not start with the prefix, no "]" follows, or no number can be
// read there.
std::optional<std::int32_t> reference_index(std::wstring_view text, std::wstring_view prefix);

// Hidden when switched off, or when one of its searches names a quick pins group (those belong under
// the "Quick pins" root).
bool folder_excluded(const namespace_settings::folder_record& folder);

// Hidden when switched off, or when its name starts with a reference past the end of the tags or the
// people list.
bool query_excluded(const namespace_settings::query_record& query, std::size_t tag_count, std::size_t person_count);
bool query_excluded(const namespace_settings::query_record& query, const all_tags_settings::settings_file& tags,
                    const all_people_settings::settings_file& people);
