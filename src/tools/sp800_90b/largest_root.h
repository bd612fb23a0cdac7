// src/tools/sp800_90b/largest_root.h: the largest of many per-length
// roots (c_t / total(t))^(1/t) that the t-tuple and LRS estimates take.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>

namespace talvora::tools::sp800_90b {

// max over lengths t = first, first + 1, ... of (counts[t - first] /
// total(t))^(1/t), in extended precision, for counts non-increasing and
// totals decreasing in t. Long repeats give millions of lengths, and
// powl is slow: blocks of lengths are skipped where a bound shows they
// cannot hold the maximum. Over a block [a, b] every term is at most
// (counts[a] / total(b))^(1/b) while that base is below 1 (a base below 1
// grows under a root of higher order); the bound is compared with a
// margin far above the rounding of powl.
template <class Count, class Total>
long double largest_root(std::span<const Count> counts, std::uint64_t first, Total total) {
    constexpr std::size_t BLOCK = 256;
    const auto term = [&](std::size_t i) {
        const std::uint64_t t = first + i;
        return std::pow(static_cast<long double>(counts[i]) / total(t),
                        1.0L / static_cast<long double>(t));
    };
    // Each block's last term first, as a floor to compare bounds with.
    long double best = 0;
    for (std::size_t begin = 0; begin < counts.size(); begin += BLOCK)
        best = std::max(best, term(std::min(counts.size(), begin + BLOCK) - 1));
    for (std::size_t begin = 0; begin < counts.size(); begin += BLOCK) {
        const std::size_t end = std::min(counts.size(), begin + BLOCK);
        const long double base = static_cast<long double>(counts[begin]) / total(first + end - 1);
        if (base < 1.0L) {
            const long double bound =
                std::pow(base, 1.0L / static_cast<long double>(first + end - 1));
            if (bound * (1.0L + 0x1p-40L) < best) continue;
        }
        for (std::size_t i = begin; i + 1 < end; ++i)
            best = std::max(best, term(i));
    }
    return best;
}

} // namespace talvora::tools::sp800_90b
