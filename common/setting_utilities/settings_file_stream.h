#pragma once
// A settings file's text as a RapidJSON input stream, read in small chunks: the file's bytes up to the
// first sequence that is not well-formed UTF-8, the way a UTF-8 text stream decodes it (shortest forms
// only, no surrogates, nothing above U+10FFFF); a byte-order mark stays part of the text; nothing for a
// missing or unreadable file or one of 2 GiB or more. Every reading of a settings file goes through it.
// It never holds the whole file: under Wine a fresh multi-megabyte buffer costs more in page faults
// than parsing what it holds.
//
// The stream itself makes no system call: the file is read through a byte_source (common_settings_file.cpp
// opens it), and bytes already in memory can stand in for a file, which is how the fuzzers reach the
// readers natively.

#include <rapidjson/rapidjson.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace common::setting_utilities
{
class settings_file_stream
{
public:
    using Ch = char;

    // Where the bytes come from, in order.
    class byte_source
    {
    public:
        virtual ~byte_source() = default;
        // Copies up to `size` bytes into `into` and answers how many; 0 ends the bytes (their end, or a
        // failure to read).
        virtual std::size_t read(char* into, std::size_t size) noexcept = 0;
    };

    // chunk_size: bytes read per call, at least 4 (tests and fuzzers use small chunks to cross boundaries).
    // The file at `path`.
    explicit settings_file_stream(const std::wstring& path, std::size_t chunk_size = 64 * 1024);
    // `bytes` as if they were a file's contents; they must outlive the stream.
    explicit settings_file_stream(std::string_view bytes, std::size_t chunk_size = 64 * 1024);
    settings_file_stream(const settings_file_stream&) = delete;
    settings_file_stream& operator=(const settings_file_stream&) = delete;

    // The parser calls these for every byte; they only move a pointer until a chunk is used up. (Letting
    // RapidJSON copy the stream into its locals instead made mingw's code slower, not faster.)
    RAPIDJSON_FORCEINLINE Ch Peek()
    {
        if (RAPIDJSON_UNLIKELY(next_ == end_) && !refill())
            return '\0';
        return *next_;
    }
    RAPIDJSON_FORCEINLINE Ch Take()
    {
        if (RAPIDJSON_UNLIKELY(next_ == end_) && !refill())
            return '\0';
        return *next_++;
    }
    std::size_t Tell() const noexcept
    {
        return next_ ? consumed_ + static_cast<std::size_t>(next_ - buffer_.get()) : 0;
    }

    // Output is for in-situ parsing only, which this stream does not offer.
    Ch* PutBegin() { return nullptr; }
    void Put(Ch) {}
    void Flush() {}
    std::size_t PutEnd(Ch*) { return 0; }

    // Once Peek answered '\0': whether that was a NUL byte of the text rather than its end. RapidJSON
    // takes a NUL for the end of the text, so "{}" followed by a NUL and anything at all would parse as
    // one root value; JSON text never holds one, and such a parse must not count.
    bool held_nul() const noexcept { return next_ != end_ && *next_ == '\0'; }

private:
    // `size` bytes to come from `source`; none when there is no source or the size is 0 or 2 GiB or more.
    void start(std::unique_ptr<byte_source> source, std::uint64_t size, std::size_t chunk_size);
    // Called when every validated byte has been handed out: validates or reads more. False at the end
    // of the text.
    bool refill();
    void validate();

    const char* next_ = nullptr; // next byte to hand out
    const char* end_ = nullptr;  // end of the validated bytes
    std::unique_ptr<byte_source> source_;
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t valid_ = 0;    // end of the validated bytes, as an offset
    std::size_t filled_ = 0;   // end of the bytes read
    std::size_t consumed_ = 0; // bytes handed out before the buffer's first byte
    std::uint64_t unread_ = 0; // bytes of the source not yet read
    bool ended_ = false;       // no more text: end of the bytes, read failure or invalid UTF-8
};
} // namespace common::setting_utilities
