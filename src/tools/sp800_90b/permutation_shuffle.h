// src/tools/sp800_90b/permutation_shuffle.h: the orderings of the
// permutation test. Permutation i of a test is fixed by the test's seed and
// i alone, so any thread may make any permutation and results do not
// depend on how the work was spread.
#pragma once

#include <cstdint>
#include <span>

namespace talvora::tools::sp800_90b {

// xoshiro256**, seeded through splitmix64.
class Xoshiro256 {
  public:
    Xoshiro256(std::uint64_t seed, std::uint64_t stream) noexcept;
    std::uint64_t next() noexcept;

  private:
    std::uint64_t s_[4];
};

// Shuffles symbols (Fisher-Yates, every ordering equally likely) into the
// ordering of permutation `index` of the test seeded with `seed`: the same
// ordering for the same original, seed and index. Fewer than 2^32 symbols.
void shuffle_permutation(std::uint64_t seed, std::uint64_t index,
                         std::span<std::uint8_t> symbols) noexcept;

// A seed from the operating system, for tests run without one.
std::uint64_t random_seed();

} // namespace talvora::tools::sp800_90b
