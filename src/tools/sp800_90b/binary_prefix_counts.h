// src/tools/sp800_90b/binary_prefix_counts.h: the flat tables of the
// Markov-model and LZ78Y kernels for bits: for every prefix of 1 to 16
// bits (newest bit lowest), the counts of the 0s and 1s that followed it,
// packed in one word as c0 | c1 << 32. A prefix with no count is unknown.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace talvora::tools::sp800_90b {

class BinaryPrefixCounts {
  public:
    static constexpr unsigned LONGEST = 16;

    BinaryPrefixCounts() {
        for (unsigned m = 1; m <= LONGEST; ++m)
            tables_[m].assign(std::size_t{1} << m, 0);
    }

    // The counts after the last m bits of history.
    std::uint64_t& at(unsigned m, std::uint32_t history) {
        return tables_[m][history & ((1u << m) - 1)];
    }

    // What adds one to the count of bit.
    static std::uint64_t one(std::uint8_t bit) { return std::uint64_t{1} << (32 * bit); }
    static std::uint32_t zeros(std::uint64_t counts) { return static_cast<std::uint32_t>(counts); }
    static std::uint32_t ones(std::uint64_t counts) {
        return static_cast<std::uint32_t>(counts >> 32);
    }

  private:
    std::array<std::vector<std::uint64_t>, LONGEST + 1> tables_;
};

} // namespace talvora::tools::sp800_90b
