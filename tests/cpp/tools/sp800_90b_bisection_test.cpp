// tests/cpp/tools/sp800_90b_bisection_test.cpp: the closeness test and the
// root search of the compression and prediction estimates.
#include "tools/sp800_90b/bisection.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

namespace talvora::tools::sp800_90b {
namespace {

TEST(CloseEnough, UlpsRelativeAndAbsolute) {
    const double x = 0.7;
    EXPECT_TRUE(close_enough(x, x));
    EXPECT_TRUE(close_enough(x, std::nextafter(x, 1.0)));
    double four = x, five = x;
    for (int i = 0; i < 4; ++i)
        four = std::nextafter(four, 1.0);
    for (int i = 0; i < 5; ++i)
        five = std::nextafter(five, 1.0);
    EXPECT_TRUE(close_enough(x, four));
    EXPECT_TRUE(close_enough(four, x));
    EXPECT_FALSE(close_enough(x, five));
    // Within DBL_EPSILON of the larger magnitude, even across a binade.
    EXPECT_TRUE(close_enough(1.0, std::nextafter(1.0, 0.0)));
    EXPECT_FALSE(close_enough(x, -x));
    EXPECT_FALSE(close_enough(NAN, NAN));
    EXPECT_FALSE(close_enough(1.0, INFINITY));
    EXPECT_TRUE(close_enough(INFINITY, INFINITY));
    // Near zero only the absolute floor counts.
    EXPECT_TRUE(close_enough(0.0, DBL_MIN));
    EXPECT_TRUE(close_enough(-0.0, 0.0));
    EXPECT_FALSE(close_enough(0.0, 3 * DBL_MIN));
}

TEST(SolveDecreasing, FindsRootWithinFourUlps) {
    const auto f = [](double p) { return 1.0 - p * p; };
    const double target = 0.51;
    const double p = solve_decreasing(f, target, 0.0, 1.0, -1.0);
    EXPECT_TRUE(close_enough(f(p), target));
    EXPECT_NEAR(p, 0.7, 1e-15);
}

// f's range is only known where it was evaluated, so a target beyond it
// drives the search to an end of the domain (callers check the end first).
TEST(SolveDecreasing, TargetOutsideRangeRunsToAnEnd) {
    const auto f = [](double p) { return 1.0 - p; };
    EXPECT_EQ(solve_decreasing(f, -1.0, 0.0, 1.0, -1.0), 1.0);
    EXPECT_EQ(solve_decreasing(f, 2.0, 0.0, 1.0, -1.0), std::nextafter(0.0, 1.0));
}

// An increasing f leaves the bracket of values seen at once: the search
// stops at the upper end; a NaN fails it.
TEST(SolveDecreasing, LeavingTheBracketStops) {
    const auto f = [](double p) { return p; };
    EXPECT_EQ(solve_decreasing(f, 0.25, 0.0, 1.0, -1.0), 1.0);
    EXPECT_EQ(solve_decreasing([](double) { return NAN; }, 0.25, 0.0, 1.0, -1.0), -1.0);
}

TEST(SolveDecreasing, NotMonotoneStopsAtUpperEnd) {
    // Decreasing on the first halving, then a jump above every value seen.
    int calls = 0;
    const auto f = [&calls](double p) { return ++calls == 1 ? 1.0 - p : 5.0; };
    EXPECT_EQ(solve_decreasing(f, 0.2, 0.0, 1.0, -1.0), 1.0);
    EXPECT_EQ(calls, 2);
}

TEST(SolveDecreasing, FlatFunctionEndsWhenTheIntervalCloses) {
    // Never close to the target and never outside [f_hi, f_lo]: the interval
    // shrinks until the midpoint repeats, and the upper end is returned.
    const auto f = [](double p) { return p < 0.25 ? 1.0 : 0.0; };
    const double p = solve_decreasing(f, 0.5, 0.0, 1.0, -1.0);
    EXPECT_NEAR(p, 0.25, 1e-15);
    EXPECT_GE(p, 0.25);
}

} // namespace
} // namespace talvora::tools::sp800_90b
