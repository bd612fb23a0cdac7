// tests/cpp/tools/sp800_90b_largest_root_test.cpp: the block-skipping
// maximum of per-length roots against evaluating every length.
#include "sp800_90b_sources.h"
#include "tools/sp800_90b/largest_root.h"

#include <gtest/gtest.h>

#include <vector>

namespace talvora::tools::sp800_90b::testing {
namespace {

template <class Total>
long double every_root(const std::vector<std::uint64_t>& counts, std::uint64_t first, Total total) {
    long double best = 0;
    for (std::size_t i = 0; i < counts.size(); ++i)
        best = std::max(best, std::pow(static_cast<long double>(counts[i]) / total(first + i),
                                       1.0L / static_cast<long double>(first + i)));
    return best;
}

// Non-increasing counts: steps at random places, long flat stretches, a
// count falling by one per length (a repeat as long as half the data), and
// a cliff after the 256th length, whose maximum ends the first block.
std::vector<std::vector<std::uint64_t>> count_shapes() {
    Generator g(1);
    std::vector<std::vector<std::uint64_t>> shapes;
    for (const std::size_t length : {1u, 255u, 256u, 257u, 12'000u}) {
        std::vector<std::uint64_t> steps(length), falling(length), flat(length), cliff(length);
        std::uint64_t count = 1'000'000;
        for (std::size_t i = 0; i < length; ++i) {
            if (g.below(50) == 0) count -= std::min<std::uint64_t>(count - 1, g.below(20'000));
            steps[i] = count;
            falling[i] = length - i;
            flat[i] = 35;
            cliff[i] = i < 256 ? 1'000'000 : 1;
        }
        shapes.push_back(steps);
        shapes.push_back(falling);
        shapes.push_back(flat);
        shapes.push_back(cliff);
    }
    return shapes;
}

TEST(LargestRoot, SameAsEveryLength) {
    for (const std::uint64_t n : {2'000'000ull, 80'000'000ull})
        for (const auto& counts : count_shapes())
            for (const std::uint64_t first : {1ull, 1'000ull}) {
                const auto windows = [n](std::uint64_t t) {
                    return static_cast<long double>(n - t + 1);
                };
                const auto pairs = [n](std::uint64_t t) {
                    const std::uint64_t w = n - t + 1;
                    return static_cast<long double>(w * (w - 1) / 2);
                };
                const std::span<const std::uint64_t> view(counts);
                EXPECT_EQ(largest_root(view, first, windows), every_root(counts, first, windows));
                EXPECT_EQ(largest_root(view, first, pairs), every_root(counts, first, pairs));
            }
}

} // namespace
} // namespace talvora::tools::sp800_90b::testing
