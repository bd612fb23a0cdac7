// tests/cpp/tools/sp800_90b_iid_test.cpp: the IID track's pieces that need
// no reference tool: p-values against closed forms, the longest repeat
// against a direct search, and degenerate samples end to end.
#include "sp800_90b_sources.h"
#include "tools/sp800_90b/iid.h"
#include "tools/sp800_90b/incomplete_gamma.h"

#include <gtest/gtest.h>

#include <cmath>

namespace talvora::tools::sp800_90b::testing {
namespace {

// For even df the upper tail is a finite sum:
// Q(k, x) = e^-x * sum_{j < k} x^j / j!.
TEST(IncompleteGamma, MatchesClosedFormForEvenDegreesOfFreedom) {
    for (int k = 1; k <= 40; ++k)
        for (double x : {0.01, 0.5, 1.0, 3.0, 9.5, 20.0, 41.0, 80.0}) {
            double term = 1, sum = 1;
            for (int j = 1; j < k; ++j) {
                term *= x / j;
                sum += term;
            }
            const double expected = std::exp(-x) * sum;
            EXPECT_NEAR(upper_incomplete_gamma(k, x), expected, 1e-13 * expected) << k << " " << x;
            EXPECT_NEAR(lower_incomplete_gamma(k, x), 1 - expected, 1e-13) << k << " " << x;
            EXPECT_NEAR(chi_square_p_value(2 * x, 2 * k), expected, 1e-13 * expected);
        }
    EXPECT_EQ(chi_square_p_value(0, 10), 1);
    EXPECT_EQ(chi_square_p_value(5, 0), 1);
    EXPECT_EQ(chi_square_p_value(1e6, 30), 0); // underflows
}

std::uint64_t naive_longest_repeat(const Samples& s) {
    std::uint64_t best = 0;
    for (std::size_t a = 0; a < s.size(); ++a)
        for (std::size_t b = a + 1; b < s.size(); ++b) {
            std::uint64_t len = 0;
            while (b + len < s.size() && s[a + len] == s[b + len])
                ++len;
            best = std::max(best, len);
        }
    return best;
}

TEST(LrsTest, LongestRepeatMatchesDirectSearch) {
    for (std::uint64_t seed = 0; seed < 10; ++seed) {
        const Samples s = uniform_samples(300, 2, seed);
        EXPECT_EQ(longest_repeat(s, 4), naive_longest_repeat(s));
    }
    EXPECT_EQ(longest_repeat(repeated_block(500, 123, 8, 1), 256), 377u);
    EXPECT_EQ(longest_repeat(Samples{0, 1, 2}, 3), 0u);
    EXPECT_EQ(longest_repeat(Samples(50, 0), 1), 49u);
}

IidResult run_iid(const Samples& samples, unsigned bits) {
    WorkerPool pool(2);
    IidOptions options;
    options.seed = 1;
    return iid(samples, bits, options, pool);
}

TEST(Iid, ConstantSamplesHaveNoEntropyAndNoTests) {
    const IidResult r = run_iid(Samples(1'000, 7), 8);
    EXPECT_EQ(r.k, 1u);
    EXPECT_EQ(r.assessed, 0);
    EXPECT_EQ(r.h_original, 0.0);
    EXPECT_FALSE(r.tests);
    EXPECT_FALSE(r.is_iid);
    EXPECT_EQ(r.warnings.size(), 2u);
}

// Alternating values fail everything but goodness of fit; the verdict
// needs no compression of shuffles.
TEST(Iid, AlternatingSamplesAreNotIid) {
    const IidResult r = run_iid(alternating(1'000, 3, 9), 8);
    EXPECT_TRUE(r.binary);
    EXPECT_EQ(r.mean, 6.0);
    EXPECT_EQ(r.median, 0.5);
    EXPECT_EQ(r.tests->independence.statistic, 3000);
    EXPECT_EQ(r.tests->independence.degrees_of_freedom, 30);
    EXPECT_EQ(r.tests->independence.p_value, 0);
    EXPECT_EQ(r.tests->goodness_of_fit.statistic, 0);
    EXPECT_TRUE(r.tests->goodness_of_fit.passed);
    EXPECT_EQ(r.tests->lrs.longest_repeat, 998u);
    EXPECT_FALSE(r.tests->lrs.passed);
    EXPECT_FALSE(r.tests->permutation.compression_needed);
    EXPECT_FALSE(r.tests->permutation.passed);
    EXPECT_FALSE(r.is_iid);
    EXPECT_EQ(r.tests->permutation.statistics[0].original, 3);
    EXPECT_EQ(r.tests->permutation.statistics[1].original, 1);
    EXPECT_EQ(r.tests->permutation.statistics[2].original, 124);
}

// Inputs too short for some statistics or tests (the reference tool stops
// on an assertion for several of them) still give a whole result.
TEST(Iid, ShortInputsGiveResults) {
    for (const Samples& s :
         {Samples{1, 2}, Samples{1, 2, 3}, Samples{0, 1, 0}, uniform_samples(20, 8, 1),
          uniform_samples(33, 8, 2), biased_bits(100, 0.5, 3)}) {
        const IidResult r = run_iid(s, 8);
        ASSERT_TRUE(r.tests);
        EXPECT_GE(r.assessed, 0);
        EXPECT_LE(r.assessed, 8);
        EXPECT_TRUE(std::isfinite(r.tests->independence.statistic));
        EXPECT_TRUE(std::isfinite(r.tests->goodness_of_fit.statistic));
        EXPECT_GE(r.tests->lrs.probability, 0);
        EXPECT_LE(r.tests->lrs.probability, 1);
    }
}

TEST(Iid, RejectsSamplesWiderThanBits) {
    EXPECT_THROW(run_iid(Samples{1, 2, 16}, 4), SampleRangeError);
    EXPECT_THROW(run_iid(Samples{}, 4), std::invalid_argument);
}

TEST(Iid, SameResultWithTheSameSeed) {
    const Samples samples = uniform_samples(5'000, 8, 3);
    const IidResult a = run_iid(samples, 8), b = run_iid(samples, 8);
    for (std::size_t i = 0; i < PERMUTATION_STATISTICS; ++i) {
        const auto &x = a.tests->permutation.statistics[i], &y = b.tests->permutation.statistics[i];
        EXPECT_EQ(std::tie(x.greater, x.equal, x.less), std::tie(y.greater, y.equal, y.less));
    }
    EXPECT_EQ(a.tests->permutation.seed, 1u);
}

} // namespace
} // namespace talvora::tools::sp800_90b::testing
