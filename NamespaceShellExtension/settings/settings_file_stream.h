#pragma once
// A settings file as a RapidJSON input stream, read in small chunks. It yields exactly the text that
// read_settings_text gives (the file's bytes up to the first sequence that is not well-formed UTF-8; a
// byte-order mark stays part of the text; nothing for a missing or unreadable file or one of 2 GiB or
// more) without holding the whole file: a large namespace file in one buffer costs more in fresh pages
// than its parse. A NUL byte ends the text and is remembered, because JSON text never holds one and
// RapidJSON would take it for the end.

#include "module/raii.h"

#include <rapidjson/rapidjson.h>
#include <rapidjson/stream.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace settings_json
{
class settings_file_reader;

// The parser's cursor over a settings_file_reader. RapidJSON copies it into locals of its parsing
// functions (see the StreamTraits below), so the per-byte path is a pointer compare and increment.
class settings_file_stream
{
public:
    using Ch = char;

    explicit settings_file_stream(settings_file_reader& reader) noexcept : reader_(&reader) {}

    Ch Peek()
    {
        if (next_ == end_ && !refill())
            return '\0';
        return *next_;
    }
    Ch Take()
    {
        if (next_ == end_ && !refill())
            return '\0';
        return *next_++;
    }
    std::size_t Tell() const noexcept;

    // Output is for in-situ parsing only, which this stream does not offer.
    Ch* PutBegin() { return nullptr; }
    void Put(Ch) {}
    void Flush() {}
    std::size_t PutEnd(Ch*) { return 0; }

private:
    bool refill();

    settings_file_reader* reader_;
    const char* next_ = nullptr;
    const char* end_ = nullptr;
};

class settings_file_reader
{
public:
    // chunk_size: bytes read per call, at least 4 (tests use small chunks to cross boundaries).
    explicit settings_file_reader(const std::wstring& path, std::size_t chunk_size = 64 * 1024);
    settings_file_reader(const settings_file_reader&) = delete;
    settings_file_reader& operator=(const settings_file_reader&) = delete;

    settings_file_stream stream() noexcept { return settings_file_stream(*this); }

    // The text held a NUL byte: it must not count as parsed.
    bool held_nul() const noexcept { return held_nul_; }

private:
    friend class settings_file_stream;

    // Called when every validated byte has been handed out: validates or reads more and points the
    // cursor at it. False at the end of the text.
    bool advance(const char*& next, const char*& end);
    void validate();

    unique_hfile file_;
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t valid_ = 0;    // end of the validated bytes
    std::size_t filled_ = 0;   // end of the bytes read
    std::size_t consumed_ = 0; // bytes handed out before the buffer's first byte
    std::uint64_t unread_ = 0; // bytes of the file not yet read
    bool ended_ = false;       // no more text: end of file, read failure, invalid UTF-8 or NUL
    bool held_nul_ = false;
};

inline bool settings_file_stream::refill()
{
    return reader_->advance(next_, end_);
}

inline std::size_t settings_file_stream::Tell() const noexcept
{
    return next_ ? reader_->consumed_ + static_cast<std::size_t>(next_ - reader_->buffer_.get()) : 0;
}
} // namespace settings_json

RAPIDJSON_NAMESPACE_BEGIN
template <>
struct StreamTraits<settings_json::settings_file_stream>
{
    enum
    {
        copyOptimization = 1
    };
};
RAPIDJSON_NAMESPACE_END
