// The tags, people and suite settings readers on the same bytes: each reads the same in the file's
// chunks and in chunks of a few bytes, takes the file exactly when a plain document parse of the bytes
// gives an object, and keeps the rules of its records.

#include "fuzz_support.h"

#include "settings/all_people_settings.h"
#include "settings/all_tags_settings.h"
#include "settings/high_level_settings.h"

#include <cstddef>
#include <cstdint>

namespace
{
using common::setting_utilities::settings_file_stream;

template <class Contents>
Contents read_twice(std::string_view bytes, Contents (*read_contents)(settings_file_stream&))
{
    settings_file_stream text(bytes);
    auto contents = read_contents(text);
    settings_file_stream small_chunks(bytes, 4 + bytes.size() % 8);
    FUZZ_REQUIRE(read_contents(small_chunks) == contents);
    return contents;
}

// The number of elements of an array member of the root; -1 when there is no such array.
long long array_size(const common::setting_utilities::json_document& document, const char* name)
{
    if (!document.IsObject())
        return -1;
    const auto member = document.FindMember(name);
    if (member == document.MemberEnd() || !member->value.IsArray())
        return -1;
    return member->value.Size();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    common::setting_utilities::json_document document;
    const bool is_object = fuzz_support::plain_settings_document(bytes, document) && document.IsObject();

    const auto tags = read_twice(bytes, all_tags_settings::read_contents);
    FUZZ_REQUIRE(tags.has_value() == is_object);
    if (tags)
        FUZZ_REQUIRE((tags->tags ? static_cast<long long>(tags->tags->size()) : -1) == array_size(document, "tags"));

    const auto people = read_twice(bytes, all_people_settings::read_contents);
    FUZZ_REQUIRE(people.has_value() == is_object);
    if (people)
        FUZZ_REQUIRE((people->people ? static_cast<long long>(people->people->size()) : -1) ==
                     array_size(document, "people"));

    const auto suite = read_twice(bytes, high_level_settings::read_contents);
    FUZZ_REQUIRE(suite.has_value() == is_object);
    if (suite && suite->apps)
    {
        FUZZ_REQUIRE(array_size(document, "apps") >= static_cast<long long>(suite->apps->size()));
        for (const auto& [id, app] : *suite->apps)
            FUZZ_REQUIRE(!id.empty() && id == app.app_id);
    }
    return 0;
}
