// tests/cpp/tools/sp800_90b_suffix_array_test.cpp: the suffix and LCP
// arrays against sorting suffixes directly, and the tuple counts read off
// them against counting tuples of each length.
#include "sp800_90b_sources.h"
#include "tools/sp800_90b/lcp_intervals.h"
#include "tools/sp800_90b/prefix_sort.h"
#include "tools/sp800_90b/suffix_array.h"
#include "tools/sp800_90b/tuple_counts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <optional>

namespace talvora::tools::sp800_90b::testing {
namespace {

std::vector<std::uint32_t> naive_suffix_array(const Samples& s) {
    std::vector<std::uint32_t> sa(s.size());
    std::iota(sa.begin(), sa.end(), 0u);
    std::sort(sa.begin(), sa.end(), [&](std::uint32_t a, std::uint32_t b) {
        return std::lexicographical_compare(s.begin() + a, s.end(), s.begin() + b, s.end());
    });
    return sa;
}

std::vector<std::uint32_t> naive_lcp(const Samples& s, const std::vector<std::uint32_t>& sa) {
    std::vector<std::uint32_t> lcp(sa.size(), 0);
    for (std::size_t i = 1; i < sa.size(); ++i)
        while (sa[i] + lcp[i] < s.size() && sa[i - 1] + lcp[i] < s.size() &&
               s[sa[i] + lcp[i]] == s[sa[i - 1] + lcp[i]])
            ++lcp[i];
    return lcp;
}

void expect_arrays(const Samples& s, unsigned alphabet) {
    std::vector<std::uint32_t> sa = suffix_array(s, alphabet);
    const std::vector<std::uint32_t> expected = naive_suffix_array(s);
    ASSERT_EQ(sa, expected);
    suffix_array_to_lcp(s, sa);
    EXPECT_EQ(sa, naive_lcp(s, expected));
}

// Sequences whose suffix sorting recurses in different ways: random over
// small and large alphabets, runs, periods, a repeated block, and all the
// short binary strings.
TEST(SuffixArray, MatchesSortedSuffixes) {
    for (std::uint64_t seed = 0; seed < 20; ++seed) {
        expect_arrays(uniform_samples(1 + seed * 97, 1, seed), 2);
        expect_arrays(uniform_samples(1 + seed * 131, 8, seed), 256);
        expect_arrays(markov_nibbles(500 + seed, seed), 16);
    }
    expect_arrays(Samples(1'000, 0), 1);
    expect_arrays(alternating(999, 0, 1), 2);
    expect_arrays(repeated_block(3'000, 17, 2, 3), 4);
    expect_arrays(repeated_block(2'000, 700, 8, 4), 256);
    Samples descending(300);
    std::iota(descending.rbegin(), descending.rend(), std::uint8_t{0});
    expect_arrays(descending, 256);
    for (unsigned length = 1; length <= 12; ++length)
        for (unsigned pattern = 0; pattern < (1u << length); ++pattern) {
            Samples s(length);
            for (unsigned i = 0; i < length; ++i)
                s[i] = (pattern >> i) & 1u;
            expect_arrays(s, 2);
        }
}

TEST(SuffixArray, Empty) {
    std::vector<std::uint32_t> sa = suffix_array(Samples{}, 2);
    EXPECT_TRUE(sa.empty());
    suffix_array_to_lcp(Samples{}, sa);
    EXPECT_TRUE(sa.empty());
}

// The intervals give, for every length t, the count of the most frequent
// t-tuple (max of sizes over depths >= t) and the pairs of equal t-tuples
// (C(size, 2) over depths in (parent, h]).
TEST(LcpIntervals, TupleCountsMatchDirectCounting) {
    for (const Samples& s : {uniform_samples(3'000, 2, 1), repeated_block(1'500, 40, 3, 2),
                             alternating(200, 0, 1), markov_nibbles(2'000, 3)}) {
        std::vector<std::uint32_t> lcp = suffix_array(s, 16);
        suffix_array_to_lcp(s, lcp);
        std::map<std::uint32_t, std::uint64_t> most, pairs;
        for_each_lcp_interval(std::span<const std::uint32_t>(lcp),
                              [&](std::uint32_t h, std::size_t size, std::uint32_t parent) {
                                  ASSERT_LT(parent, h);
                                  for (std::uint32_t t = 1; t <= h; ++t)
                                      most[t] = std::max<std::uint64_t>(most[t], size);
                                  for (std::uint32_t t = parent + 1; t <= h; ++t)
                                      pairs[t] += std::uint64_t{size} * (size - 1) / 2;
                              });
        for (std::uint32_t t = 1; t <= 12; ++t) {
            std::map<Samples, std::uint64_t> counts;
            for (std::size_t i = 0; i + t <= s.size(); ++i)
                ++counts[Samples(s.begin() + i, s.begin() + i + t)];
            std::uint64_t expected_most = 0, expected_pairs = 0;
            for (const auto& [tuple, count] : counts) {
                expected_most = std::max(expected_most, count);
                expected_pairs += count * (count - 1) / 2;
            }
            EXPECT_EQ(most.contains(t) ? most[t] : 1, expected_most) << t;
            EXPECT_EQ(pairs[t], expected_pairs) << t;
        }
    }
}

std::vector<std::uint64_t> lcp_from_suffix_array(const Samples& s, unsigned k) {
    std::vector<std::uint32_t> lcp = suffix_array(s, k);
    suffix_array_to_lcp(s, lcp);
    return {lcp.begin(), lcp.end()};
}

// The LCP values prefix sorting streams, or nullopt when it gives up.
std::optional<std::vector<std::uint64_t>> lcp_from_prefix_sort(const Samples& s, unsigned k) {
    std::vector<std::uint64_t> lcp;
    const bool sorted = stream_lcp_by_prefix_sort(s, k, [&](std::span<const std::uint64_t> part) {
        lcp.insert(lcp.end(), part.begin(), part.end());
    });
    if (!sorted) return std::nullopt;
    return lcp;
}

// Every key width (1 to 8 bits a symbol), ties several keys deep, suffixes
// ending inside a key, groups large enough for the radix path.
TEST(PrefixSort, MatchesSuffixArrayLcp) {
    for (const unsigned bits : {1u, 2u, 3u, 4u, 5u, 7u, 8u}) {
        const unsigned k = 1u << bits;
        for (const Samples& s : {uniform_samples(5'000, bits, bits), uniform_samples(70, bits, 1),
                                 markov_nibbles(3'000, bits), uniform_samples(1, bits, 2)}) {
            Samples narrowed(s);
            for (auto& x : narrowed)
                x &= static_cast<std::uint8_t>(k - 1);
            const auto lcp = lcp_from_prefix_sort(narrowed, k);
            ASSERT_TRUE(lcp) << bits;
            EXPECT_EQ(*lcp, lcp_from_suffix_array(narrowed, k)) << bits;
        }
    }
    // Skewed bits: deep ties everywhere, and radix buckets of every size.
    const Samples skewed = biased_bits(200'000, 0.03, 3);
    EXPECT_EQ(*lcp_from_prefix_sort(skewed, 2), lcp_from_suffix_array(skewed, 2));
    // A repeat 300 bits long: ties five keys deep, still within budget.
    Samples repeat = uniform_samples(20'000, 1, 4);
    std::copy(repeat.begin() + 1'000, repeat.begin() + 1'300, repeat.begin() + 9'000);
    EXPECT_EQ(*lcp_from_prefix_sort(repeat, 2), lcp_from_suffix_array(repeat, 2));
    EXPECT_EQ(*lcp_from_prefix_sort(Samples{}, 2), std::vector<std::uint64_t>{});
}

TEST(PrefixSort, GivesUpOnLongRepeats) {
    EXPECT_FALSE(lcp_from_prefix_sort(Samples(10'000, 0), 2));
    EXPECT_FALSE(lcp_from_prefix_sort(repeated_block(30'000, 10'000, 8, 5), 256));
}

// Every count the visitor receives.
struct CollectedCounts : TupleVisitor {
    TupleLengths seen;
    std::vector<std::uint64_t> most_by_length{0}, pairs_by_length;
    void lengths(const TupleLengths& lengths) override { seen = lengths; }
    void most(std::span<const std::uint32_t> counts) override {
        most_by_length.insert(most_by_length.end(), counts.begin(), counts.end());
    }
    void pairs(std::span<const std::uint64_t> counts) override {
        pairs_by_length.assign(counts.begin(), counts.end());
    }
};

CollectedCounts collect(const Samples& s, unsigned k, bool suffix_array_only) {
    CollectedCounts counts;
    if (suffix_array_only)
        count_tuples_from_suffix_array(s, k, 35, counts);
    else
        count_tuples(s, k, 35, counts);
    EXPECT_EQ(counts.most_by_length.size(), counts.seen.u);
    EXPECT_EQ(counts.pairs_by_length.size(),
              counts.seen.v + 1 - std::min(counts.seen.u, counts.seen.v + 1));
    return counts;
}

TEST(TupleCounts, BothRoutesAgree) {
    for (const Samples& s :
         {uniform_samples(50'000, 1, 6), markov_nibbles(20'000, 7), skewed_bytes(30'000, 8),
          biased_bits(40'000, 0.2, 9), uniform_samples(20, 8, 10)}) {
        const CollectedCounts sorted = collect(s, 256, false), arrays = collect(s, 256, true);
        EXPECT_EQ(sorted.seen.n, arrays.seen.n);
        EXPECT_EQ(sorted.seen.u, arrays.seen.u);
        EXPECT_EQ(sorted.seen.v, arrays.seen.v);
        EXPECT_EQ(sorted.most_by_length, arrays.most_by_length);
        EXPECT_EQ(sorted.pairs_by_length, arrays.pairs_by_length);
    }
}

// Tuples of a period-3 sequence: u - 1 and v are close to its length, and
// every tuple count is known in closed form.
TEST(TupleCounts, PeriodicSequence) {
    Samples s(3'000);
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<std::uint8_t>(i % 3);
    // Through the suffix array: prefix sorting gives up.
    const CollectedCounts counts = collect(s, 3, false);
    ASSERT_EQ(counts.seen.v, 2'997u);
    // The t-tuple at position 0 recurs every third position: floor((3000 -
    // t) / 3) + 1 times, 35 times up to t = 2898.
    ASSERT_EQ(counts.seen.u, 2'899u);
    for (std::uint64_t t = 1; t < counts.seen.u; ++t)
        ASSERT_EQ(counts.most_by_length[t], (3'000 - t) / 3 + 1) << t;
    // Equal w-tuples: positions i < j with j - i divisible by 3, both
    // starting a whole w-tuple.
    for (std::uint64_t w = counts.seen.u; w <= counts.seen.v; ++w) {
        std::uint64_t expected = 0;
        for (std::uint64_t r = 0; r < 3; ++r) {
            const std::uint64_t starts = r + w <= 3'000 ? (3'000 - w - r) / 3 + 1 : 0;
            expected += starts * (starts - 1) / 2;
        }
        ASSERT_EQ(counts.pairs_by_length[w - counts.seen.u], expected) << w;
    }
}

} // namespace
} // namespace talvora::tools::sp800_90b::testing
