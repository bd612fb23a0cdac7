// src/tools/sp800_90b/compression_statistic.cpp: decimal text and the bit
// lengths of bzip2 blocks.
#include "tools/sp800_90b/compression_statistic.h"

#include <cstring>
#include <string>

// libbz2's one-shot compressor, a stable entry point since 1.0. The build
// root carries the runtime library but not its header.
extern "C" int BZ2_bzBuffToBuffCompress(char* dest, unsigned int* dest_len, char* source,
                                        unsigned int source_len, int block_size_100k, int verbosity,
                                        int work_factor);

namespace talvora::tools::sp800_90b {

namespace {

constexpr int BLOCK_SIZE_100K = 5;
constexpr int BZ_OK = 0;
// bzip2 fills a block up to this many characters after its first
// run-length stage, then closes it at the next run boundary.
constexpr std::size_t BLOCK_FILL = BLOCK_SIZE_100K * 100'000 - 19;
// Stream header "BZh5" before the blocks; after them the end-of-stream
// marker and the combined CRC, then zero bits to the byte boundary.
constexpr std::uint64_t HEADER_BITS = 32;
constexpr std::uint64_t MARKER_BITS = 48;
constexpr std::uint64_t TRAILER_BITS = MARKER_BITS + 32;
constexpr std::uint64_t END_MARKER = 0x1772'4538'5090u;

std::uint64_t bit_at(const unsigned char* bytes, std::uint64_t position) noexcept {
    return (bytes[position >> 3] >> (7 - (position & 7))) & 1u;
}

// The end of a one-block stream's content: the position after its trailer.
// The marker cannot overlap a copy of itself shifted by 1 to 7 bits, so
// exactly one padding length fits.
std::optional<std::uint64_t> content_end(const unsigned char* stream,
                                         std::uint64_t bytes) noexcept {
    const std::uint64_t total = 8 * bytes;
    for (std::uint64_t padding = 0; padding < 8; ++padding) {
        const std::uint64_t end = total - padding;
        if (end < HEADER_BITS + TRAILER_BITS) break;
        std::uint64_t marker = 0;
        for (std::uint64_t b = end - TRAILER_BITS; b < end - TRAILER_BITS + MARKER_BITS; ++b)
            marker = marker << 1 | bit_at(stream, b);
        bool zero_padding = true;
        for (std::uint64_t b = end; b < total; ++b)
            zero_padding = zero_padding && bit_at(stream, b) == 0;
        if (marker == END_MARKER && zero_padding) return end;
    }
    return std::nullopt;
}

} // namespace

DecimalText::DecimalText(const std::array<std::uint8_t, 256>& raw) noexcept {
    for (std::size_t s = 0; s < raw.size(); ++s) {
        const std::string digits = std::to_string(raw[s]) + ' ';
        std::memcpy(token_[s].data(), digits.data(), digits.size());
        token_len_[s] = static_cast<std::uint8_t>(digits.size());
    }
}

std::size_t DecimalText::length(Symbols symbols) const noexcept {
    std::size_t total = 0;
    for (const std::uint8_t s : symbols)
        total += token_len_[s];
    return total == 0 ? 0 : total - 1; // no space after the last value
}

std::string_view DecimalText::write(Symbols symbols, std::span<char> out) const noexcept {
    // Whole 4-byte tokens are copied; each write overlaps the next token's
    // start, hence the 4 characters of slack.
    char* p = out.data();
    for (const std::uint8_t s : symbols) {
        std::memcpy(p, token_[s].data(), 4);
        p += token_len_[s];
    }
    const std::size_t len = static_cast<std::size_t>(p - out.data());
    return {out.data(), len == 0 ? 0 : len - 1};
}

std::size_t bzip2_first_block(std::string_view text) noexcept {
    if (text.size() <= BLOCK_FILL) return text.size();
    // The run that reaches the fill level completes the block.
    std::size_t end = BLOCK_FILL;
    while (end < text.size() && text[end] == text[end - 1])
        ++end;
    // A single character left at the end joins the last block.
    return end + 1 >= text.size() ? text.size() : end;
}

std::vector<std::string_view> bzip2_blocks(std::string_view text) {
    std::vector<std::string_view> blocks;
    while (!text.empty()) {
        blocks.push_back(text.substr(0, bzip2_first_block(text)));
        text.remove_prefix(blocks.back().size());
    }
    return blocks;
}

std::optional<std::uint64_t> bzip2_block_bits(std::string_view block,
                                              std::span<char> scratch) noexcept {
    unsigned int len = static_cast<unsigned int>(scratch.size());
    // libbz2 takes a non-const source but only reads it.
    if (BZ2_bzBuffToBuffCompress(scratch.data(), &len, const_cast<char*>(block.data()),
                                 static_cast<unsigned int>(block.size()), BLOCK_SIZE_100K, 0,
                                 0) != BZ_OK)
        return std::nullopt;
    const auto end = content_end(reinterpret_cast<const unsigned char*>(scratch.data()), len);
    if (!end) return std::nullopt;
    return *end - HEADER_BITS - TRAILER_BITS;
}

std::optional<std::uint64_t> bzip2_length_up_to(std::string_view text, std::uint64_t limit,
                                                std::span<char> scratch) noexcept {
    std::uint64_t bits = 0;
    while (!text.empty()) {
        const std::size_t len = bzip2_first_block(text);
        const auto block = bzip2_block_bits(text.substr(0, len), scratch);
        if (!block) return std::nullopt;
        bits += *block;
        text.remove_prefix(len);
        if (bzip2_stream_length(bits) > limit) break; // later blocks only add
    }
    return bzip2_stream_length(bits);
}

std::uint64_t bzip2_stream_length(std::uint64_t block_bits) noexcept {
    return (HEADER_BITS + block_bits + TRAILER_BITS + 7) / 8;
}

} // namespace talvora::tools::sp800_90b
