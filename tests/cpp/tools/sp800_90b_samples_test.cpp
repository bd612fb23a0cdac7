// tests/cpp/tools/sp800_90b_samples_test.cpp: reading samples: the width
// check, the rank renumbering, the bitstring and the confidence bound.
#include "sp800_90b_sources.h"
#include "tools/sp800_90b/mcv.h"
#include "tools/sp800_90b/samples.h"
#include "tools/sp800_90b/upper_bound.h"

#include <gtest/gtest.h>

#include <cmath>

namespace talvora::tools::sp800_90b::testing {
namespace {

TEST(CheckSamples, FirstOffenderNamesPositionAndValue) {
    // The offender sits past the first 4096-byte block, after a clean block.
    Samples data(10'000, 3);
    data[5'000] = 9;
    data[7'000] = 200;
    try {
        check_samples(data, 3);
        FAIL() << "no error";
    } catch (const SampleRangeError& error) {
        EXPECT_EQ(error.position(), 5'000u);
        EXPECT_EQ(error.value(), 9u);
        EXPECT_STREQ(error.what(), "sample 9 at position 5000 does not fit in 3 bits");
    }
    data[0] = 2;
    data[1] = 4;
    try {
        check_samples(data, 2);
        FAIL() << "no error";
    } catch (const SampleRangeError& error) {
        EXPECT_EQ(error.position(), 1u); // 2 and 3 fit in two bits
    }
    EXPECT_THROW(check_samples(Samples{1, 0, 2}, 1), SampleRangeError);
    EXPECT_NO_THROW(check_samples(Samples{1, 0, 1}, 1));
    EXPECT_NO_THROW(check_samples(Samples{255, 0}, 8));
    EXPECT_NO_THROW(check_samples(Samples{}, 4));
}

TEST(CheckSamples, WidthOutsideOneToEight) {
    EXPECT_THROW(check_samples(Samples{0}, 0), std::invalid_argument);
    EXPECT_THROW(check_samples(Samples{0}, 9), std::invalid_argument);
}

TEST(LiteralSequence, RanksKeepOrder) {
    const LiteralSequence literal = literal_sequence(Samples{200, 7, 7, 31, 200, 0});
    EXPECT_EQ(literal.k, 4u);
    EXPECT_EQ(literal.symbols, (Samples{3, 1, 1, 2, 3, 0}));
    // Values 0..k-1 all present: nothing moves.
    const Samples dense = uniform_samples(5'000, 4, 1);
    const LiteralSequence same = literal_sequence(dense);
    EXPECT_EQ(same.k, 16u);
    EXPECT_EQ(same.symbols, dense);
}

TEST(Bitstring, MostSignificantBitFirst) {
    EXPECT_EQ(bitstring(Samples{5, 2}, 3), (Samples{1, 0, 1, 0, 1, 0}));
    EXPECT_EQ(bitstring(Samples{0x81}, 8), (Samples{1, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(bitstring(Samples{1, 0, 1}, 1), (Samples{1, 0, 1}));
}

TEST(UpperBound, NormalQuantileAndCap) {
    // p + z sqrt(p (1 - p) / (n - 1)) with z to full precision, and its cap.
    EXPECT_DOUBLE_EQ(upper_bound(0.5, 10'001), 0.5 + Z * std::sqrt(0.25 / 10'000));
    EXPECT_EQ(upper_bound(0.999, 10), 1.0);
    EXPECT_EQ(upper_bound(1.0, 1), 1.0); // 0/0 under the root: capped, not NaN
    EXPECT_NEAR(static_cast<double>(upper_bound_extended(0.5L, 10'001)), upper_bound(0.5, 10'001),
                1e-16);
    EXPECT_NEAR(Z, 2.5758293035489, 1e-13);
}

TEST(MostCommonValue, ModeAndBound) {
    const Estimate e = most_common_value(Samples{0, 1, 1, 2, 1, 0});
    EXPECT_EQ(std::get<std::int64_t>(*e.find("Mode count")), 3);
    EXPECT_EQ(std::get<double>(*e.find("p-hat")), 0.5);
    EXPECT_EQ(std::get<double>(*e.find("p_u")), upper_bound(0.5, 6));
    EXPECT_EQ(*e.min_entropy, -std::log2(upper_bound(0.5, 6)));
}

} // namespace
} // namespace talvora::tools::sp800_90b::testing
