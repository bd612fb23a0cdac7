// tests/cpp/expected_table_test.cpp: the stored expected-entropy table.
#include "entropy/entropy.h"

#include <gtest/gtest.h>

namespace talvora {
namespace {

TEST(ExpectedTable, UnusedEntriesAreZeroAndTheRestRise) {
    EXPECT_EQ(ExpectedEntropyTable[0], 0.0);
    EXPECT_EQ(ExpectedEntropyTable[1], 0.0);
    for (std::size_t n = 3; n < EXPECTED_TABLE_LEN; ++n)
        ASSERT_GT(ExpectedEntropyTable[n], ExpectedEntropyTable[n - 1]) << n;
    // The curve takes over above the last entry, and jumps up there.
    EXPECT_GT(reference_entropy(EXPECTED_TABLE_LEN), ExpectedEntropyTable[EXPECTED_TABLE_LEN - 1]);
}

TEST(ExpectedTable, PublishedRowsAreStoredExactly) {
    const std::pair<std::size_t, double> rows[] = {
        {2, 0.99619},
        {3, 1.5769166510961505},
        {4, 1.988112120296845},
        {9, 3.138708206080901},
        {10, 3.2867481414557282},
        {11, 3.420757464097063},
        {15, 3.852236255632547},
        {16, 3.9420323908348522},
        {100, 6.285681220268449},
        {255, 7.1721415784317735},
        {256, 7.174691458984072},
        {500, 7.57974643226978},
        {998, 7.803382989912488},
        {999, 7.803613030275777},
    };
    for (const auto& [n, value] : rows) {
        EXPECT_EQ(ExpectedEntropyTable[n], value) << n;
        EXPECT_EQ(reference_entropy(n), value) << n;
    }
}

} // namespace
} // namespace talvora
