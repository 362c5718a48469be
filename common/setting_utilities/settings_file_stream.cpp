#include "common/setting_utilities/settings_file_stream.h"

#include <algorithm>
#include <cstring>

namespace common::setting_utilities
{
namespace
{
constexpr std::uint64_t high_bits = 0x8080808080808080ull;

bool plain_ascii(std::uint64_t word) noexcept
{
    return (word & high_bits) == 0;
}

class memory_source final : public settings_file_stream::byte_source
{
public:
    explicit memory_source(std::string_view bytes) noexcept : rest_(bytes) {}
    std::size_t read(char* into, std::size_t size) noexcept override
    {
        const std::size_t count = std::min(size, rest_.size());
        std::memcpy(into, rest_.data(), count);
        rest_.remove_prefix(count);
        return count;
    }

private:
    std::string_view rest_;
};
} // namespace

settings_file_stream::settings_file_stream(std::string_view bytes, std::size_t chunk_size)
{
    start(std::make_unique<memory_source>(bytes), bytes.size(), chunk_size);
}

void settings_file_stream::start(std::unique_ptr<byte_source> source, std::uint64_t size, std::size_t chunk_size)
{
    if (!source || size == 0 || size > 0x7FFFFFFF)
    {
        ended_ = true;
        return;
    }
    source_ = std::move(source);
    unread_ = size;
    // Three bytes more than a chunk: an incomplete sequence at the end of one chunk is carried over.
    capacity_ = static_cast<std::size_t>(std::min<std::uint64_t>(std::max<std::size_t>(chunk_size, 4), unread_)) + 3;
    buffer_.reset(new char[capacity_]);
}

bool settings_file_stream::refill()
{
    for (;;)
    {
        const std::size_t handed_out = valid_;
        if (!ended_)
            validate();
        if (valid_ != handed_out)
        {
            next_ = buffer_.get() + handed_out;
            end_ = buffer_.get() + valid_;
            return true;
        }
        if (ended_ || !source_)
            return false;
        // Everything validated has been handed out: keep the incomplete tail and read the next chunk.
        const std::size_t tail = filled_ - valid_;
        std::memmove(buffer_.get(), buffer_.get() + valid_, tail);
        consumed_ += valid_;
        valid_ = 0;
        filled_ = tail;
        next_ = end_ = buffer_.get();
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(capacity_ - filled_, unread_));
        const std::size_t read = wanted == 0 ? 0 : source_->read(buffer_.get() + filled_, wanted);
        if (read == 0)
        {
            // No more bytes: the next validation ends the text at the last whole sequence.
            source_.reset();
            continue;
        }
        filled_ += read;
        unread_ -= read;
    }
}

// Extends the validated bytes over what has been read: the shortest forms only, no surrogates, nothing
// above U+10FFFF.
void settings_file_stream::validate()
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer_.get());
    std::size_t i = valid_;
    while (i < filled_)
    {
        if (filled_ - i >= 8)
        {
            std::uint64_t word;
            std::memcpy(&word, bytes + i, 8);
            if (plain_ascii(word))
            {
                i += 8;
                continue;
            }
        }
        const unsigned char c = bytes[i];
        if (c < 0x80)
        {
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned lower = 0x80, upper = 0xBF;
        if (c >= 0xC2 && c <= 0xDF)
            length = 2;
        else if (c == 0xE0)
            length = 3, lower = 0xA0;
        else if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF)
            length = 3;
        else if (c == 0xED)
            length = 3, upper = 0x9F;
        else if (c == 0xF0)
            length = 4, lower = 0x90;
        else if (c >= 0xF1 && c <= 0xF3)
            length = 4;
        else if (c == 0xF4)
            length = 4, upper = 0x8F;
        else
        {
            ended_ = true;
            break;
        }
        if (i + length > filled_)
        {
            // The rest of the sequence may come with the next chunk.
            if (!source_)
                ended_ = true;
            break;
        }
        bool well_formed = true;
        for (std::size_t k = 1; k < length && well_formed; ++k)
        {
            const unsigned char d = bytes[i + k];
            well_formed = d >= (k == 1 ? lower : 0x80) && d <= (k == 1 ? upper : 0xBF);
        }
        if (!well_formed)
        {
            ended_ = true;
            break;
        }
        i += length;
    }
    valid_ = i;
}
} // namespace common::setting_utilities
