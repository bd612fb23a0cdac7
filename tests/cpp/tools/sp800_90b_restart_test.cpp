// tests/cpp/tools/sp800_90b_restart_test.cpp: the restart tests without the
// reference tool: the cutoff's probabilities against a direct computation,
// the layout, input checks, and the verdicts on data built to pass or fail.
#include "sp800_90b_agreement.h"
#include "sp800_90b_sources.h"
#include "tools/sp800_90b/restart.h"
#include "tools/sp800_90b/restart_cutoff.h"

#include <gtest/gtest.h>

#include <cmath>

namespace talvora::tools::sp800_90b::testing {
namespace {

// P(no value more than c times in n draws), value by value: the draws left
// for the values from i on split binomially between value i and the rest.
double direct_all_at_most(double h, std::uint64_t c, std::uint64_t n) {
    const double p = std::exp2(-h);
    const auto equal = static_cast<std::uint64_t>(std::floor(1 / p));
    std::vector<double> probabilities(equal, p);
    if (1 - equal * p > 0) probabilities.push_back(1 - equal * p);
    // left[r]: P(the values from i on take their r draws, none more than c).
    std::vector<double> left(n + 1, 0);
    for (std::uint64_t r = 0; r <= std::min(c, n); ++r)
        left[r] = 1;
    double tail = probabilities.back();
    for (std::size_t i = probabilities.size() - 1; i-- > 0;) {
        tail += probabilities[i];
        const double theta = probabilities[i] / tail;
        std::vector<double> next(n + 1, 0);
        for (std::uint64_t r = 0; r <= n; ++r)
            for (std::uint64_t j = 0; j <= std::min(c, r); ++j)
                next[r] += std::exp(std::lgamma(r + 1.0) - std::lgamma(j + 1.0) -
                                    std::lgamma(r - j + 1.0)) *
                           std::pow(theta, j) * std::pow(1 - theta, r - j) * left[r - j];
        left.swap(next);
    }
    return left[n];
}

TEST(RestartCutoff, ProbabilitiesMatchDirectComputation) {
    for (double h : {0.0, 0.3, 1.0, 1.7, 2.0, 3.2, 4.0}) {
        for (std::uint64_t c = 0; c <= 60; c += 3) {
            const double expected = direct_all_at_most(h, c, 60);
            EXPECT_NEAR(restart_all_at_most(h, c, 60), expected, 1e-12 + 1e-10 * expected)
                << h << " " << c;
        }
    }
}

TEST(RestartCutoff, QuantileOfTheLargestCount) {
    EXPECT_EQ(restart_alpha(), 1 - std::exp(std::log(0.99) / 2000));
    EXPECT_EQ(restart_cutoff(0), 1000u); // one value takes every draw
    for (double h :
         SLOW_BUILD ? std::vector<double>{2.0} : std::vector<double>{0.5, 2.0, 5.7, 7.5, 8.0}) {
        const std::uint64_t c = restart_cutoff(h);
        const double target = 4'999'974 / 5e6;
        EXPECT_GE(restart_all_at_most(h, c, 1000), target) << h;
        EXPECT_LT(restart_all_at_most(h, c - 1, 1000), target) << h;
    }
    if (SLOW_BUILD) return;
    EXPECT_EQ(restart_cutoff(7.5), 22u);
    EXPECT_EQ(restart_cutoff(8), 19u);
}

TEST(Restart, ColumnsAreTheTranspose) {
    const Samples rows = uniform_samples(RESTARTS * SAMPLES_PER_RESTART, 8, 1);
    const std::vector<std::uint8_t> columns = restart_columns(rows);
    for (std::size_t r : {0u, 1u, 500u, 999u})
        for (std::size_t c : {0u, 7u, 999u})
            EXPECT_EQ(columns[c * RESTARTS + r], rows[r * SAMPLES_PER_RESTART + c]);
    EXPECT_EQ(restart_columns(columns), rows);
}

// IID mode without shuffles: the tests here need only the unshuffled
// statistics, and a permutation test without shuffles fails.
RestartOptions options_for(bool iid, std::uint64_t seed) {
    RestartOptions options;
    options.iid = iid;
    options.iid_options.seed = seed;
    options.iid_options.permutations = 0;
    return options;
}

RestartResult run_restart(const Samples& data, unsigned bits, double h, bool iid) {
    WorkerPool pool(2);
    return restart(data, bits, h, options_for(iid, 3), pool);
}

TEST(Restart, RejectsOtherSizesAndClaims) {
    EXPECT_THROW(run_restart(Samples(999'999, 0), 8, 1, false), std::invalid_argument);
    const Samples data = uniform_samples(1'000'000, 4, 2);
    EXPECT_THROW(run_restart(data, 4, 4.5, false), std::invalid_argument);
    EXPECT_THROW(run_restart(data, 4, -0.1, false), std::invalid_argument);
    EXPECT_THROW(run_restart(data, 4, NAN, false), std::invalid_argument);
    EXPECT_THROW(run_restart(data, 3, 1, false), SampleRangeError);
}

// One restart that keeps returning the same value fails the sanity check,
// which ends the assessment.
TEST(Restart, CommonValueInOneColumnFailsTheSanityCheck) {
    Samples data = uniform_samples(1'000'000, 8, 3);
    for (std::size_t r = 0; r < 30; ++r)
        data[r * SAMPLES_PER_RESTART + 17] = 200; // column 17
    const RestartResult result = run_restart(data, 8, 7.5, false);
    EXPECT_EQ(result.sanity.cutoff, 22u);
    EXPECT_GE(result.sanity.max_count, 30u);
    EXPECT_FALSE(result.sanity.passed);
    EXPECT_FALSE(result.rows || result.columns || result.assessed);
}

// Every row and column alternates: no value is common anywhere, yet each
// sample follows from the one before. The non-IID estimators see through
// it, the most common value estimate does not (the IID tests do).
TEST(Restart, PredictableRowsFailValidation) {
    Samples data(RESTARTS * SAMPLES_PER_RESTART);
    for (std::size_t r = 0; r < RESTARTS; ++r)
        for (std::size_t c = 0; c < SAMPLES_PER_RESTART; ++c)
            data[r * SAMPLES_PER_RESTART + c] = (r + c) % 2;
    const RestartResult iid = run_restart(data, 1, 1, true);
    EXPECT_TRUE(iid.sanity.passed);
    EXPECT_TRUE(iid.validated);
    EXPECT_EQ(iid.assessed, iid.rows->min_entropy); // the most common value bound, below 1
    EXPECT_FALSE(iid.rows->tests->chi_square_passed());
    EXPECT_FALSE(iid.columns->tests->passed());

    if (SLOW_BUILD) GTEST_SKIP() << "the non-IID estimators on a million samples";
    const RestartResult non_iid = run_restart(data, 1, 1, false);
    EXPECT_TRUE(non_iid.sanity.passed);
    EXPECT_LT(non_iid.rows->min_entropy, 0.1);
    EXPECT_LT(non_iid.columns->min_entropy, 0.1);
    EXPECT_FALSE(non_iid.validated);
    EXPECT_FALSE(non_iid.assessed);
}

// In IID mode each dataset gets the most common value estimate and its own
// IID tests: the columns' are those of the transposed data.
TEST(Restart, IidModeTestsRowsAndColumnsApart) {
    const Samples data = choose_from(1'000'000, {0, 1, 2, 3, 9}, 4);
    const RestartOptions options = options_for(true, 5);
    WorkerPool pool(2);
    const RestartResult result = restart(data, 4, 2, options, pool);
    ASSERT_TRUE(result.sanity.passed);
    EXPECT_EQ(result.rows->min_entropy, result.columns->min_entropy); // same counts
    const std::vector<std::uint8_t> columns = restart_columns(data);
    const LiteralSequence literal = literal_sequence(columns);
    const IidTests expected =
        iid_tests(literal.symbols, literal.k, literal_raw_values(count_bytes(columns)),
                  options.iid_options, 5, pool);
    const IidTests& tests = *result.columns->tests;
    EXPECT_EQ(tests.independence.statistic, expected.independence.statistic);
    EXPECT_EQ(tests.goodness_of_fit.statistic, expected.goodness_of_fit.statistic);
    EXPECT_EQ(tests.lrs.longest_repeat, expected.lrs.longest_repeat);
    for (std::size_t i = 0; i < PERMUTATION_STATISTICS; ++i)
        EXPECT_EQ(tests.permutation.statistics[i].original,
                  expected.permutation.statistics[i].original);
    EXPECT_NE(tests.independence.statistic, result.rows->tests->independence.statistic);
    EXPECT_EQ(result.assessed, 2.0);
}

} // namespace
} // namespace talvora::tools::sp800_90b::testing
