// tests/cpp/tools/sp800_90b_permutation_test_test.cpp: the shuffles, and
// the parallel, early-stopping permutation test against a plain loop that
// computes every statistic on every shuffle in order.
#include "sp800_90b_sources.h"
#include "tools/sp800_90b/compression_statistic.h"
#include "tools/sp800_90b/incomplete_gamma.h"
#include "tools/sp800_90b/permutation_shuffle.h"
#include "tools/sp800_90b/permutation_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace talvora::tools::sp800_90b::testing {
namespace {

TEST(PermutationShuffle, FixedBySeedAndIndex) {
    const Samples original = uniform_samples(1'000, 8, 1);
    Samples a = original, b = original, c = original;
    shuffle_permutation(7, 3, a);
    shuffle_permutation(7, 3, b);
    shuffle_permutation(7, 4, c);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_NE(a, original);
    std::sort(a.begin(), a.end());
    Samples sorted = original;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(a, sorted);
}

// All 120 orderings of 5 items come up equally often.
TEST(PermutationShuffle, EveryOrderingEquallyLikely) {
    std::map<Samples, int> seen;
    const int shuffles = 120'000;
    for (int i = 0; i < shuffles; ++i) {
        Samples s{0, 1, 2, 3, 4};
        shuffle_permutation(11, i, s);
        ++seen[s];
    }
    ASSERT_EQ(seen.size(), 120u);
    double statistic = 0;
    for (const auto& [ordering, count] : seen)
        statistic += (count - 1000.0) * (count - 1000.0) / 1000.0;
    EXPECT_GT(chi_square_p_value(statistic, 119), 1e-4) << statistic;
}

PermutationData facts_of(const Samples& literal, unsigned alphabet) {
    std::array<std::uint8_t, 256> raw{};
    // Raw values apart from the ranks where there is room.
    for (unsigned s = 0; s < alphabet; ++s)
        raw[s] = static_cast<std::uint8_t>(alphabet <= 128 ? 2 * s + 1 : s);
    return PermutationData::of(literal, raw, alphabet);
}

double stream_length(const Samples& symbols, const PermutationData& data) {
    const DecimalText text(data.raw);
    std::vector<char> out(text.length(symbols) + 4), scratch(BZIP2_SCRATCH);
    std::uint64_t bits = 0;
    for (const std::string_view block : bzip2_blocks(text.write(symbols, out)))
        bits += bzip2_block_bits(block, scratch).value();
    return static_cast<double>(bzip2_stream_length(bits));
}

// Every statistic on every shuffle, counted until it settles.
PermutationTestResult plain_permutation_test(const Samples& literal, const PermutationData& data,
                                             std::size_t permutations, std::uint64_t seed) {
    StatisticsWorkspace workspace(data, literal.size());
    StatisticSet cheap;
    cheap.set().reset(COMPRESSION_STATISTIC);
    StatisticValues original{};
    workspace.evaluate(literal, cheap, original);
    original[COMPRESSION_STATISTIC] = stream_length(literal, data);
    PermutationTestResult result;
    std::array<bool, PERMUTATION_STATISTICS> active;
    active.fill(true);
    for (std::size_t j = 0; j < permutations; ++j) {
        Samples shuffled = literal;
        shuffle_permutation(seed, j, shuffled);
        StatisticValues values{};
        workspace.evaluate(shuffled, cheap, values);
        values[COMPRESSION_STATISTIC] = stream_length(shuffled, data);
        for (std::size_t i = 0; i < PERMUTATION_STATISTICS; ++i) {
            if (!active[i]) continue;
            auto& s = result.statistics[i];
            s.original = original[i];
            (values[i] > original[i] ? s.greater : values[i] == original[i] ? s.equal : s.less)++;
            active[i] = !(s.greater + s.equal > 5 && s.equal + s.less > 5);
        }
    }
    result.passed = std::none_of(active.begin(), active.end(), [](bool a) { return a; });
    return result;
}

void expect_same_as_plain(const Samples& literal, unsigned alphabet, std::size_t permutations) {
    const PermutationData data = facts_of(literal, alphabet);
    const PermutationTestResult plain = plain_permutation_test(literal, data, permutations, 5);
    WorkerPool pool(2);
    const PermutationTestResult fast = permutation_test(literal, data, {permutations, 5, {}}, pool);
    EXPECT_EQ(fast.passed, plain.passed);
    bool others_settled = true;
    for (std::size_t i = 0; i < COMPRESSION_STATISTIC; ++i) {
        const auto &f = fast.statistics[i], &p = plain.statistics[i];
        EXPECT_EQ(f.original, p.original) << f.name;
        EXPECT_EQ(std::tie(f.greater, f.equal, f.less), std::tie(p.greater, p.equal, p.less))
            << f.name;
        others_settled = others_settled && f.passed.value();
    }
    // Compression runs on shuffles only when the others leave the verdict open.
    const auto &f = fast.statistics[COMPRESSION_STATISTIC],
               &p = plain.statistics[COMPRESSION_STATISTIC];
    EXPECT_EQ(f.original, p.original);
    EXPECT_EQ(fast.compression_needed, others_settled);
    if (others_settled)
        EXPECT_EQ(std::tie(f.greater, f.equal, f.less), std::tie(p.greater, p.equal, p.less));
    else
        EXPECT_EQ(f.passed, std::nullopt);
}

TEST(PermutationTest, SameCountsAsEveryStatisticOnEveryShuffle) {
    expect_same_as_plain(uniform_samples(3'000, 8, 1), 256, 400);
    expect_same_as_plain(biased_bits(4'000, 0.4, 2), 2, 400);
    expect_same_as_plain(markov_nibbles(3'000, 3), 16, 300); // fails without compression
    expect_same_as_plain(uniform_samples(40, 3, 4), 8, 100); // shorter than the longest lag
}

TEST(PermutationTest, SameResultForEveryNumberOfWorkers) {
    const Samples literal = uniform_samples(20'000, 8, 8);
    const PermutationData data = facts_of(literal, 256);
    std::vector<PermutationTestResult> results;
    for (std::size_t workers : {1u, 2u, 4u}) {
        WorkerPool pool(workers);
        results.push_back(permutation_test(literal, data, {10'000, 99, {}}, pool));
    }
    for (const PermutationTestResult& r : results) {
        EXPECT_EQ(r.permutations, results[0].permutations);
        EXPECT_EQ(r.passed, results[0].passed);
        for (std::size_t i = 0; i < PERMUTATION_STATISTICS; ++i) {
            const auto &s = r.statistics[i], &first = results[0].statistics[i];
            EXPECT_EQ(
                std::tie(s.original, s.greater, s.equal, s.less, s.passed),
                std::tie(first.original, first.greater, first.equal, first.less, first.passed));
        }
    }
}

TEST(PermutationTest, ProgressCanStopIt) {
    const Samples literal = markov_nibbles(2'000, 1);
    WorkerPool pool(2);
    std::size_t last = 0;
    const PermutationTestOptions options{10'000, 1, [&](std::size_t done) {
                                             EXPECT_GT(done, last);
                                             last = done;
                                             return done < 100;
                                         }};
    EXPECT_THROW(permutation_test(literal, facts_of(literal, 16), options, pool),
                 PermutationTestStopped);
    EXPECT_GE(last, 100u);
}

} // namespace
} // namespace talvora::tools::sp800_90b::testing
