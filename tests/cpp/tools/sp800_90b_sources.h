// tests/cpp/tools/sp800_90b_sources.h: deterministic noise sources for the
// SP 800-90B tests: uniform, skewed and Markov samples, biased bits and
// degenerate sequences.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace talvora::tools::sp800_90b::testing {

using Samples = std::vector<std::uint8_t>;

// splitmix64: a small, fast generator, fixed by its seed.
class Generator {
  public:
    explicit Generator(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next();
    double uniform() { return static_cast<double>(next() >> 11) * 0x1p-53; } // [0, 1)
    unsigned below(unsigned bound) { return static_cast<unsigned>(next() % bound); }

  private:
    std::uint64_t state_;
};

// n samples uniform in [0, 2^bits).
Samples uniform_samples(std::size_t n, unsigned bits, std::uint64_t seed);
// Bytes with P(v) proportional to 0.96^v: a few values common, most rare.
Samples skewed_bytes(std::size_t n, std::uint64_t seed);
// 4-bit samples that mostly stay or step by one from the previous one.
Samples markov_nibbles(std::size_t n, std::uint64_t seed);
// Bits that are 1 with probability p.
Samples biased_bits(std::size_t n, double p, std::uint64_t seed);
// Samples taking only the given values, uniformly.
Samples choose_from(std::size_t n, const std::vector<std::uint8_t>& values, std::uint64_t seed);
// a, b, a, b, ...
Samples alternating(std::size_t n, std::uint8_t a, std::uint8_t b);
// A random block of block_len samples repeated until n samples.
Samples repeated_block(std::size_t n, std::size_t block_len, unsigned bits, std::uint64_t seed);

} // namespace talvora::tools::sp800_90b::testing
