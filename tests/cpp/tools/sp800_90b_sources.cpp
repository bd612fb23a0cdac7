// tests/cpp/tools/sp800_90b_sources.cpp: the test noise sources.
#include "sp800_90b_sources.h"

#include <algorithm>
#include <cmath>

namespace talvora::tools::sp800_90b::testing {

std::uint64_t Generator::next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15u);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
}

Samples uniform_samples(std::size_t n, unsigned bits, std::uint64_t seed) {
    Generator g(seed);
    Samples out(n);
    for (auto& x : out)
        x = static_cast<std::uint8_t>(g.next() >> (64 - bits));
    return out;
}

Samples skewed_bytes(std::size_t n, std::uint64_t seed) {
    Generator g(seed);
    Samples out(n);
    const double log_ratio = std::log(0.96);
    for (auto& x : out)
        x = static_cast<std::uint8_t>(
            std::min(255.0, std::floor(std::log1p(-g.uniform()) / log_ratio)));
    return out;
}

Samples markov_nibbles(std::size_t n, std::uint64_t seed) {
    Generator g(seed);
    Samples out(n);
    unsigned state = 0;
    for (auto& x : out) {
        const unsigned roll = g.below(16);
        if (roll < 2)
            state = g.below(16);
        else if (roll < 5)
            state = (state + 1) % 16;
        else if (roll < 7)
            state = (state + 15) % 16;
        x = static_cast<std::uint8_t>(state);
    }
    return out;
}

Samples biased_bits(std::size_t n, double p, std::uint64_t seed) {
    Generator g(seed);
    Samples out(n);
    for (auto& x : out)
        x = g.uniform() < p;
    return out;
}

Samples choose_from(std::size_t n, const std::vector<std::uint8_t>& values, std::uint64_t seed) {
    Generator g(seed);
    Samples out(n);
    for (auto& x : out)
        x = values[g.below(static_cast<unsigned>(values.size()))];
    return out;
}

Samples alternating(std::size_t n, std::uint8_t a, std::uint8_t b) {
    Samples out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = i % 2 == 0 ? a : b;
    return out;
}

Samples repeated_block(std::size_t n, std::size_t block_len, unsigned bits, std::uint64_t seed) {
    const Samples block = uniform_samples(block_len, bits, seed);
    Samples out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = block[i % block_len];
    return out;
}

} // namespace talvora::tools::sp800_90b::testing
