// tests/cpp/tools/scan_profile_test.cpp: edges with hysteresis and merged
// regions, at the thresholds exactly and on either side of them.
#include "tools/scan/profile.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

namespace talvora::tools {

void PrintTo(const ByteRange& range, std::ostream* os) {
    *os << '[' << range.start << ", " << range.end << ')';
}

namespace {

// Shannon values whose metric entropy is exactly the given fraction.
std::vector<double> shannon_of(const std::vector<double>& metrics) {
    std::vector<double> shannon;
    for (const double m : metrics)
        shannon.push_back(m * 8);
    return shannon;
}

TEST(Edges, HysteresisBetweenTheThresholds) {
    // Crossing down to 0.9 does not end the high state; 0.85 exactly does.
    const std::vector<double> shannon =
        shannon_of({0.1, 0.94, 0.95, 0.9, 0.86, 0.85, 0.9, 0.94, 1.0, 0.0, 0.2});
    const std::vector<EdgeAt> edges = find_edges(shannon, 0.95, 0.85);
    ASSERT_EQ(edges.size(), 4u);
    EXPECT_EQ(edges[0].window, 2u);
    EXPECT_TRUE(edges[0].rising);
    EXPECT_EQ(edges[1].window, 5u);
    EXPECT_FALSE(edges[1].rising);
    EXPECT_EQ(edges[2].window, 8u);
    EXPECT_TRUE(edges[2].rising);
    EXPECT_EQ(edges[3].window, 9u);
    EXPECT_FALSE(edges[3].rising);
}

TEST(Edges, AHighFirstWindowRisesAtOnceAndLowDataHasNone) {
    const std::vector<EdgeAt> edges = find_edges(shannon_of({1.0, 1.0, 0.0}), 0.95, 0.85);
    ASSERT_EQ(edges.size(), 2u);
    EXPECT_EQ(edges[0].window, 0u);
    EXPECT_TRUE(find_edges(shannon_of({0.5, 0.9, 0.94}), 0.95, 0.85).empty());
    EXPECT_TRUE(find_edges({}, 0.95, 0.85).empty());
}

TEST(Regions, OverlappingAndTouchingWindowsMergeGapsDoNot) {
    // Windows of 100 every 50; then a gap; then windows of 10 every 10.
    const std::vector<std::uint64_t> offsets{0, 50, 100, 150, 400, 410, 420, 500};
    const std::vector<std::uint64_t> lengths{100, 100, 100, 100, 10, 10, 10, 7};
    const std::vector<double> shannon = shannon_of({0.9, 0.95, 0.5, 0.9, 1.0, 0.92, 0.1, 0.99});
    const std::vector<ByteRange> regions = find_regions(offsets, lengths, shannon, 0.9, 0);
    // 0..150 (two overlapping) and 150..250 (touching it), 400..420, 500..507.
    EXPECT_EQ(regions, (std::vector<ByteRange>{{0, 250}, {400, 420}, {500, 507}}));
    EXPECT_EQ(find_regions(offsets, lengths, shannon, 0.9, 20),
              (std::vector<ByteRange>{{0, 250}, {400, 420}}));
    EXPECT_EQ(find_regions(offsets, lengths, shannon, 0.99, 0),
              (std::vector<ByteRange>{{400, 410}, {500, 507}}));
    EXPECT_TRUE(find_regions(offsets, lengths, shannon, 1.0, 11).empty());
}

} // namespace
} // namespace talvora::tools
