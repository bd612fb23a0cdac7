// src/tools/sp800_90b/samples.cpp: checking samples and forming the literal
// sequence and the bitstring.
#include "tools/sp800_90b/samples.h"

#include "entropy/entropy.h"

#include <algorithm>
#include <array>
#include <string>

namespace talvora::tools::sp800_90b {

namespace {

std::string range_message(std::size_t position, unsigned value, unsigned bits) {
    return "sample " + std::to_string(value) + " at position " + std::to_string(position) +
           " does not fit in " + std::to_string(bits) + (bits == 1 ? " bit" : " bits");
}

} // namespace

SampleRangeError::SampleRangeError(std::size_t position, unsigned value, unsigned bits)
    : std::invalid_argument(range_message(position, value, bits)), position_(position),
      value_(value) {}

void check_samples(Symbols data, unsigned bits) {
    if (bits < 1 || bits > 8)
        throw std::invalid_argument("bits must be between 1 and 8, not " + std::to_string(bits));
    if (bits == 8) return;
    // Blocks are OR-ed together (a loop the compiler vectorises); only the
    // block holding the first offender is searched position by position.
    constexpr std::size_t BLOCK = 4096;
    for (std::size_t start = 0; start < data.size(); start += BLOCK) {
        const Symbols block = data.subspan(start, std::min(BLOCK, data.size() - start));
        std::uint8_t any = 0;
        for (const std::uint8_t b : block)
            any |= b;
        if ((any >> bits) == 0) continue;
        const auto bad = std::find_if(block.begin(), block.end(),
                                      [bits](std::uint8_t b) { return (b >> bits) != 0; });
        throw SampleRangeError(start + static_cast<std::size_t>(bad - block.begin()), *bad, bits);
    }
}

LiteralSequence literal_sequence(Symbols samples) {
    const ByteHistogram histogram = count_bytes(samples);
    std::array<std::uint8_t, 256> rank{};
    unsigned k = 0;
    for (unsigned value = 0; value < 256; ++value)
        if (histogram.counts[value] != 0) rank[value] = static_cast<std::uint8_t>(k++);
    LiteralSequence literal{std::vector<std::uint8_t>(samples.size()), k};
    std::transform(samples.begin(), samples.end(), literal.symbols.begin(),
                   [&rank](std::uint8_t b) { return rank[b]; });
    return literal;
}

std::vector<std::uint8_t> bitstring(Symbols samples, unsigned bits) {
    if (samples.size() > MAX_SEQUENCE_LEN / bits)
        throw std::length_error("too many samples: the bitstring may hold at most " +
                                std::to_string(MAX_SEQUENCE_LEN) + " bits");
    std::vector<std::uint8_t> out(samples.size() * bits);
    std::uint8_t* p = out.data();
    for (const std::uint8_t sample : samples)
        for (unsigned shift = bits; shift-- > 0;)
            *p++ = (sample >> shift) & 1u;
    return out;
}

} // namespace talvora::tools::sp800_90b
