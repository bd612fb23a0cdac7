// src/tools/sp800_90b/samples.h: the samples an assessment reads, one per
// byte and `bits` wide, and their two forms: the literal sequence (values
// renumbered by rank) and the bitstring.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

namespace talvora::tools::sp800_90b {

using Symbols = std::span<const std::uint8_t>;

// A sample that does not fit in the declared width; the first one in the
// data decides the position and value reported.
class SampleRangeError : public std::invalid_argument {
  public:
    SampleRangeError(std::size_t position, unsigned value, unsigned bits);
    std::size_t position() const noexcept { return position_; }
    unsigned value() const noexcept { return value_; }

  private:
    std::size_t position_;
    unsigned value_;
};

// Throws std::invalid_argument unless 1 <= bits <= 8, and SampleRangeError
// for the first sample >= 2^bits.
void check_samples(Symbols data, unsigned bits);

// Every value replaced by its rank among the values present: the smallest
// present value becomes 0, the largest k - 1. The map keeps the order of
// values, so comparisons between symbols are those between samples.
struct LiteralSequence {
    std::vector<std::uint8_t> symbols;
    unsigned k = 0; // number of distinct values present
};
LiteralSequence literal_sequence(Symbols samples);

// Each sample as `bits` bits (0 or 1, one per byte), most significant first,
// in sample order. Throws std::length_error when the bitstring would not fit
// the 32-bit positions of the suffix arrays.
std::vector<std::uint8_t> bitstring(Symbols samples, unsigned bits);

// The longest sequence any form may have: positions and the suffix arrays'
// empty marker are 32-bit.
inline constexpr std::size_t MAX_SEQUENCE_LEN = 0xffff'fff0u;

} // namespace talvora::tools::sp800_90b
