// tests/cpp/tools/sp800_90b_permutation_statistics_test.cpp: the fast
// permutation statistics against their definitions, written as plain loops.
#include "sp800_90b_sources.h"
#include "tools/sp800_90b/permutation_statistics.h"
#include "tools/sp800_90b/sequence_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

namespace talvora::tools::sp800_90b::testing {
namespace {

// Runs of equal values of a sign sequence, as (count, longest).
std::pair<double, double> naive_runs(const std::vector<int>& signs) {
    if (signs.empty()) return {0, 0};
    double count = 1, longest = 1, current = 1;
    for (std::size_t i = 1; i < signs.size(); ++i) {
        current = signs[i] == signs[i - 1] ? current + 1 : 1;
        count += signs[i] != signs[i - 1];
        longest = std::max(longest, current);
    }
    return {count, longest};
}

// The statistics straight from their definitions, on symbols (non-binary)
// or on the 8-bit block conversions of bits.
StatisticValues naive_statistics(const Samples& literal, const PermutationData& data) {
    StatisticValues v{};
    const std::size_t n = literal.size();
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        sum += data.raw[literal[i]];
        v[0] = std::max(v[0], std::fabs(sum - static_cast<double>(i + 1) * data.mean));
    }
    Samples b = literal, collide = literal;
    std::vector<unsigned> x(literal.begin(), literal.end());
    for (unsigned& value : x)
        value = data.raw[value];
    if (data.binary()) {
        b.assign((n + 7) / 8, 0);
        collide.assign((n + 7) / 8, 0);
        for (std::size_t i = 0; i < n; ++i) {
            b[i / 8] = static_cast<std::uint8_t>(b[i / 8] + literal[i]);
            collide[i / 8] = static_cast<std::uint8_t>(collide[i / 8] | literal[i] << (7 - i % 8));
        }
        x.assign(b.begin(), b.end());
    }
    std::vector<int> directions;
    for (std::size_t i = 0; i + 1 < b.size(); ++i)
        directions.push_back(b[i] > b[i + 1] ? -1 : 1);
    std::tie(v[1], v[2]) = naive_runs(directions);
    const auto downs = std::count(directions.begin(), directions.end(), -1);
    v[3] = static_cast<double>(
        std::max<std::ptrdiff_t>(downs, static_cast<std::ptrdiff_t>(directions.size()) - downs));
    std::vector<int> median;
    for (const std::uint8_t s : literal)
        median.push_back(s < data.below_median ? -1 : 1);
    std::tie(v[4], v[5]) = naive_runs(median);
    double blocks = 0, total = 0, longest = 0;
    for (std::size_t start = 0, i = 0; i < collide.size(); ++i) {
        const std::set<std::uint8_t> seen(collide.begin() + start, collide.begin() + i);
        if (seen.count(collide[i])) {
            ++blocks;
            total += i - start + 1;
            longest = std::max(longest, static_cast<double>(i - start + 1));
            start = i + 1;
        }
    }
    v[6] = blocks == 0 ? 0 : total / blocks;
    v[7] = longest;
    const std::size_t lags[] = {1, 2, 8, 16, 32};
    for (std::size_t l = 0; l < 5; ++l) {
        double equal = 0, products = 0;
        for (std::size_t i = 0; i + lags[l] < b.size(); ++i) {
            equal += b[i] == b[i + lags[l]];
            products += static_cast<double>(x[i] * x[i + lags[l]]);
        }
        v[8 + l] = equal;
        v[13 + l] = products;
    }
    return v;
}

std::array<std::uint8_t, 256> identity_raw() {
    std::array<std::uint8_t, 256> raw{};
    for (unsigned s = 0; s < 256; ++s)
        raw[s] = static_cast<std::uint8_t>(s);
    return raw;
}

void expect_statistics(const Samples& literal, unsigned alphabet,
                       const std::array<std::uint8_t, 256>& raw) {
    const PermutationData data = PermutationData::of(literal, raw, alphabet);
    StatisticsWorkspace workspace(data, literal.size());
    StatisticSet all;
    all.set().reset(COMPRESSION_STATISTIC);
    StatisticValues values{};
    workspace.evaluate(literal, all, values);
    const StatisticValues expected = naive_statistics(literal, data);
    for (std::size_t i = 0; i < COMPRESSION_STATISTIC; ++i)
        EXPECT_EQ(values[i], expected[i])
            << PERMUTATION_STATISTIC_NAMES[i] << " on " << literal.size() << " samples";
}

TEST(PermutationStatistics, MatchTheirDefinitions) {
    auto raw = identity_raw();
    for (std::size_t n : {1u, 2u, 3u, 31u, 33u, 64u, 65u, 127u, 129u, 1'000u, 4'099u}) {
        expect_statistics(uniform_samples(n, 8, n), 256, raw);
        expect_statistics(markov_nibbles(n, n), 16, raw);
        expect_statistics(biased_bits(n, 0.3, n), 2, raw);
        expect_statistics(alternating(n, 0, 1), 2, raw);
    }
    // Long runs of one flag, across many words.
    Samples ramp(5'000);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<std::uint8_t>(i < 3'000 ? i / 12 : 250 - i % 7);
    expect_statistics(ramp, 256, raw);
    // Raw values other than the ranks, for excursion and covariance.
    raw[0] = 3;
    raw[1] = 200;
    raw[2] = 201;
    expect_statistics(choose_from(2'000, {0, 1, 2}, 5), 3, raw);
    expect_statistics(biased_bits(2'001, 0.7, 6), 2, raw);
}

TEST(PermutationStatistics, MedianOfLiteralSymbols) {
    EXPECT_EQ(literal_median(Samples{0, 2, 1}, 3), 1.0);
    EXPECT_EQ(literal_median(Samples{0, 3, 2, 1}, 4), 1.5);
    EXPECT_EQ(literal_median(Samples{1, 0, 0, 1}, 2), 0.5);
    // 1.5 puts symbols 0 and 1 below the median.
    const auto raw = identity_raw();
    EXPECT_EQ(PermutationData::of(Samples{0, 3, 2, 1}, raw, 4).below_median, 2);
    EXPECT_EQ(PermutationData::of(Samples{0, 2, 1}, raw, 3).below_median, 1);
}

// The kernels against plain loops on every tail length around the 16-byte
// and 64-bit steps.
TEST(SequenceKernels, MatchPlainLoops) {
    for (std::size_t n = 0; n < 300; ++n) {
        const Samples b = n % 3 == 0 ? uniform_samples(n, 8, n) : markov_nibbles(n, n);
        std::vector<std::uint64_t> words((n + 63) / 64);
        pack_descents(b, words);
        for (std::size_t i = 0; i < 64 * words.size(); ++i)
            ASSERT_EQ(words[i / 64] >> (i % 64) & 1, i + 1 < n && b[i] > b[i + 1]) << n << " " << i;
        pack_below(b, 7, words);
        for (std::size_t i = 0; i < 64 * words.size(); ++i)
            ASSERT_EQ(words[i / 64] >> (i % 64) & 1, i < n && b[i] < 7) << n << " " << i;
        double sum = 0, excursion = 0;
        for (std::size_t i = 0; i < n; ++i) {
            sum += b[i];
            excursion = std::max(excursion, std::fabs(sum - static_cast<double>(i + 1) * 99.75));
        }
        ASSERT_EQ(max_excursion(b, 99.75), excursion) << n;
        for (const std::size_t lag : {1u, 2u, 15u, 16u, 17u, 32u, 400u}) {
            std::uint64_t matches = 0, products = 0;
            for (std::size_t i = 0; i + lag < n; ++i) {
                matches += b[i] == b[i + lag];
                products += b[i] * b[i + lag];
            }
            ASSERT_EQ(count_matches(b, lag), matches) << n << " " << lag;
            ASSERT_EQ(sum_products(b, lag), products) << n << " " << lag;
        }
    }
    // Byte and 32-bit lane counters far past their flush points.
    const Samples full(200'003, 255);
    EXPECT_EQ(count_matches(full, 1), 200'002u);
    EXPECT_EQ(sum_products(full, 2), std::uint64_t{200'001} * 255 * 255);
}

// A shuffle's excursion skips stretches that cannot reach the original's:
// the result must still compare with it as the exact maximum does, and be
// exact once it reaches it. Long drifts make whole stretches skippable.
TEST(SequenceKernels, ExcursionAgainstABound) {
    for (std::size_t n : {1023u, 1024u, 1025u, 5000u, 70'001u}) {
        Samples drift = uniform_samples(n, 8, n);
        for (std::size_t i = 0; i < n / 3; ++i)
            drift[i] = 255; // far above the mean, then back through it
        for (const Samples& b : {uniform_samples(n, 8, n + 1), drift}) {
            double sum = 0, exact = 0, total = 0;
            for (const std::uint8_t v : b)
                total += v;
            const double mean = total / static_cast<double>(n);
            for (std::size_t i = 0; i < n; ++i) {
                sum += b[i];
                exact = std::max(exact, std::fabs(sum - static_cast<double>(i + 1) * mean));
            }
            ASSERT_EQ(max_excursion(b, mean), exact) << n;
            for (const double beyond : {exact / 4, exact - 1, std::nextafter(exact, 0.0), exact,
                                        std::nextafter(exact, 1e300), exact + 1, exact * 3}) {
                const double got = max_excursion(b, mean, beyond);
                ASSERT_EQ(got >= beyond, exact >= beyond) << n << " " << beyond;
                ASSERT_EQ(got > beyond, exact > beyond) << n << " " << beyond;
                if (exact >= beyond) {
                    ASSERT_EQ(got, exact) << n << " " << beyond;
                }
                ASSERT_LE(got, exact);
            }
        }
    }
}

TEST(SequenceKernels, RunsOfPackedFlags) {
    Generator g(9);
    for (int trial = 0; trial < 400; ++trial) {
        const std::size_t m = g.below(700);
        // Flags in runs of random lengths, some far longer than a word.
        std::vector<int> flags;
        int flag = 0;
        while (flags.size() < m) {
            const std::size_t len = trial % 4 == 0 ? 1 + g.below(200) : 1 + g.below(6);
            flags.insert(flags.end(), std::min(len, m - flags.size()), flag);
            flag ^= static_cast<int>(g.below(4) != 0);
        }
        std::vector<std::uint64_t> words((m + 63) / 64);
        for (std::size_t i = 0; i < m; ++i)
            words[i / 64] |= static_cast<std::uint64_t>(flags[i]) << (i % 64);
        const Runs runs = flag_runs(words, m);
        const auto [count, longest] = naive_runs(flags);
        ASSERT_EQ(runs.count, count) << trial;
        ASSERT_EQ(runs.longest, longest) << trial;
        ASSERT_EQ(count_flags(words),
                  static_cast<std::uint64_t>(std::count(flags.begin(), flags.end(), 1)));
    }
}

} // namespace
} // namespace talvora::tools::sp800_90b::testing
