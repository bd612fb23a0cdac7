// src/tools/sp800_90b/permutation_shuffle.cpp: seeded shuffles.
#include "tools/sp800_90b/permutation_shuffle.h"

#include <random>
#include <utility>

namespace talvora::tools::sp800_90b {

namespace {

std::uint64_t splitmix64(std::uint64_t& state) noexcept {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15u);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
}

std::uint64_t rotl(std::uint64_t x, int k) noexcept {
    return (x << k) | (x >> (64 - k));
}

// A uniform integer in [0, range) from 32 random bits, without bias
// (Lemire's multiply-and-reject); range < 2^32.
template <class Next>
std::uint32_t below(std::uint32_t random, std::uint32_t range, Next& next) noexcept {
    std::uint64_t product = static_cast<std::uint64_t>(random) * range;
    if (static_cast<std::uint32_t>(product) < range) {
        const std::uint32_t threshold = static_cast<std::uint32_t>(-range) % range;
        while (static_cast<std::uint32_t>(product) < threshold)
            product = static_cast<std::uint64_t>(static_cast<std::uint32_t>(next())) * range;
    }
    return static_cast<std::uint32_t>(product >> 32);
}

} // namespace

Xoshiro256::Xoshiro256(std::uint64_t seed, std::uint64_t stream) noexcept {
    // The stream number goes through its own splitmix step first, so that
    // neighbouring (seed, stream) pairs start far apart.
    std::uint64_t mix = stream;
    std::uint64_t state = seed ^ splitmix64(mix);
    for (std::uint64_t& word : s_)
        word = splitmix64(state);
}

std::uint64_t Xoshiro256::next() noexcept {
    const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
}

void shuffle_permutation(std::uint64_t seed, std::uint64_t index,
                         std::span<std::uint8_t> symbols) noexcept {
    Xoshiro256 generator(seed, index);
    auto next = [&generator] { return generator.next(); };
    // One output serves two draws.
    std::uint32_t i = static_cast<std::uint32_t>(symbols.size());
    while (i > 1) {
        const std::uint64_t random = generator.next();
        std::swap(symbols[i - 1], symbols[below(static_cast<std::uint32_t>(random), i, next)]);
        --i;
        if (i > 1) {
            std::swap(symbols[i - 1],
                      symbols[below(static_cast<std::uint32_t>(random >> 32), i, next)]);
            --i;
        }
    }
}

std::uint64_t random_seed() {
    std::random_device device;
    return static_cast<std::uint64_t>(device()) << 32 | device();
}

} // namespace talvora::tools::sp800_90b
