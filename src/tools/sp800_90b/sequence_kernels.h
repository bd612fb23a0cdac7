// src/tools/sp800_90b/sequence_kernels.h: passes over a byte sequence that
// the permutation statistics repeat on every shuffle: flags packed into bit
// words, runs in such words, matches and products at a lag.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace talvora::tools::sp800_90b {

// Bit i of the result is b[i] > b[i + 1], for i < n - 1 (n = b.size());
// bits past the end are 0. words has room for (n + 63) / 64 words.
void pack_descents(std::span<const std::uint8_t> b, std::span<std::uint64_t> words) noexcept;
// Bit i is b[i] < threshold, for i < n.
void pack_below(std::span<const std::uint8_t> b, std::uint8_t threshold,
                std::span<std::uint64_t> words) noexcept;

struct Runs {
    std::uint64_t count = 0;   // maximal runs of equal flags
    std::uint64_t longest = 0; // the longest of them
};
// The runs of the first m flags packed in words (bits past m are 0).
Runs flag_runs(std::span<const std::uint64_t> words, std::size_t m) noexcept;
// How many of the packed flags are set.
std::uint64_t count_flags(std::span<const std::uint64_t> words) noexcept;

// max over i of |x[0] + ... + x[i] - (i + 1) mean|: the sum exact, the rest
// in double. Stretches whose excursions certainly stay below `beyond` are
// not walked, so a result below beyond may fall short of the maximum; one
// that reaches it is exact. Either way it compares with beyond as the
// maximum does, which is all a shuffle's statistic is needed for.
double max_excursion(std::span<const std::uint8_t> x, double mean, double beyond = 0) noexcept;

// #{i < n - lag : b[i] == b[i + lag]}.
std::uint64_t count_matches(std::span<const std::uint8_t> b, std::size_t lag) noexcept;
// Σ_{i < n - lag} x[i] x[i + lag].
std::uint64_t sum_products(std::span<const std::uint8_t> x, std::size_t lag) noexcept;

} // namespace talvora::tools::sp800_90b
