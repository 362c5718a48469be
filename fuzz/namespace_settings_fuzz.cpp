// The namespace configuration reader, differentially: the one-pass reader that the folder code uses,
// fed the bytes in the file's chunks and in chunks of a few bytes, and a plain document parse of the
// same bytes read member by member must agree on every record, or all refuse the file.

#include "fuzz_support.h"
#include "settings/namespace_document_reader.h"

#include "settings/namespace_settings.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using common::setting_utilities::settings_file_stream;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    settings_file_stream text(bytes);
    const auto streamed = namespace_settings::read_contents(text);
    // Chunks of 4 to 11 bytes put a chunk's end inside every kind of sequence sooner or later.
    settings_file_stream small_chunks(bytes, 4 + size % 8);
    FUZZ_REQUIRE(namespace_settings::read_contents(small_chunks) == streamed);

    common::setting_utilities::json_document document;
    const bool parsed = fuzz_support::plain_settings_document(bytes, document);
    const auto plain = parsed ? settings_test::document_contents(document) : std::nullopt;
    FUZZ_REQUIRE(plain == streamed);
    return 0;
}
