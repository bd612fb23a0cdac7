// src/tools/sp800_90b/compression_statistic.h: the permutation test's
// compression statistic: the length of the bzip2 stream (block size 5) of
// the raw values written in decimal, separated by single spaces.
//
// bzip2 compresses blocks independently, so the stream's length follows
// from the bit lengths of its blocks, each compressed on its own. That
// lets one text be compressed on several threads.
#pragma once

#include "tools/sp800_90b/samples.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace talvora::tools::sp800_90b {

// The decimal text of the raw values of literal symbols: "17 0 255 3".
class DecimalText {
  public:
    explicit DecimalText(const std::array<std::uint8_t, 256>& raw) noexcept;

    // The length of the text of symbols; it does not depend on their order.
    std::size_t length(Symbols symbols) const noexcept;
    // Writes the text of symbols to out, which has room for length(symbols)
    // + 4 characters, and returns the text.
    std::string_view write(Symbols symbols, std::span<char> out) const noexcept;

  private:
    // Each raw value's digits and a space, and their count.
    std::array<std::array<char, 4>, 256> token_{};
    std::array<std::uint8_t, 256> token_len_{};
};

// The longest block bzip2 makes at block size 5 from text without four
// equal characters in a row.
inline constexpr std::size_t BZIP2_BLOCK_MAX = 499'984;
// Room for the compressed stream of one such block.
inline constexpr std::size_t BZIP2_SCRATCH = BZIP2_BLOCK_MAX + BZIP2_BLOCK_MAX / 64 + 1024;

// The length of the first block bzip2 cuts text into, so that successive
// calls on the rest give every block. Only for text without four equal
// characters in a row (decimal text has none), which bzip2's first
// run-length stage leaves as it is.
std::size_t bzip2_first_block(std::string_view text) noexcept;
// All the blocks of text, in order.
std::vector<std::string_view> bzip2_blocks(std::string_view text);

// The bits one block (at most BZIP2_BLOCK_MAX characters) occupies in a
// bzip2 stream, compressed on its own into scratch (BZIP2_SCRATCH bytes);
// nothing when libbz2 could not get memory.
std::optional<std::uint64_t> bzip2_block_bits(std::string_view block,
                                              std::span<char> scratch) noexcept;

// The length of the bzip2 stream of text, its blocks compressed one after
// another into scratch; but once the blocks so far make a stream longer
// than limit, that partial length (so only whether the length exceeds limit
// is exact then). Nothing when libbz2 could not get memory.
std::optional<std::uint64_t> bzip2_length_up_to(std::string_view text, std::uint64_t limit,
                                                std::span<char> scratch) noexcept;

// The length in bytes of the bzip2 stream whose blocks take block_bits bits
// in all.
std::uint64_t bzip2_stream_length(std::uint64_t block_bits) noexcept;

} // namespace talvora::tools::sp800_90b
