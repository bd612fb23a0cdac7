// tests/cpp/tools/report_test.cpp: each report field against a direct
// computation from the bytes, the entropies against talvora's measures bit
// for bit, undefined fields as NaN, and sums past 2^128 kept exact.
#include "tools/stream/exact_ratio.h"
#include "tools/stream/report.h"

#include "stream_oracle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

namespace talvora::tools::testing {
namespace {

using u128 = unsigned __int128;
using ld = long double;

void expect_relative(double actual, ld expected, const char* what) {
    EXPECT_LE(std::fabs(static_cast<ld>(actual) - expected), 1e-13L * std::fabs(expected))
        << what << ": " << actual << " vs " << static_cast<double>(expected);
}

// The statistics straight from their textbook definitions, in long double
// (exact for these lengths: every sum stays below 2^64).
void expect_matches_definitions(const Bytes& b) {
    const Report r = make_report(summarize(b));
    const ld n = static_cast<ld>(b.size());
    ld sum_x = 0, sum_xx = 0, sum_xy = 0;
    std::uint64_t counts[256] = {};
    for (std::size_t i = 0; i < b.size(); ++i) {
        sum_x += b[i];
        sum_xx += b[i] * b[i];
        sum_xy += b[i] * b[(i + 1) % b.size()];
        counts[b[i]]++;
    }
    ld chi = 0;
    for (std::uint64_t c : counts)
        chi += (c - n / 256) * (c - n / 256) / (n / 256);
    expect_relative(r.chi_square, chi, "chi_square");
    expect_relative(r.mean, sum_x / n, "mean");
    const ld den = n * sum_xx - sum_x * sum_x;
    if (den != 0)
        expect_relative(r.serial_correlation, (n * sum_xy - sum_x * sum_x) / den, "serial");
    else
        EXPECT_TRUE(std::isnan(r.serial_correlation));

    std::uint64_t inside = 0, groups = b.size() / 6;
    for (std::size_t g = 0; g < groups; ++g)
        inside += oracle_inside(b, 6 * g);
    if (groups > 0) {
        EXPECT_EQ(r.monte_carlo_pi,
                  4.0 * static_cast<double>(inside) / static_cast<double>(groups));
        const ld pi = std::numbers::pi_v<long double>;
        // The distance to pi cancels: it is as close as double pi allows.
        EXPECT_NEAR(r.monte_carlo_pi_error, 100 * std::fabs(r.monte_carlo_pi - pi) / pi, 1e-12);
    }

    const std::uint64_t most = *std::max_element(std::begin(counts), std::end(counts));
    EXPECT_EQ(r.mode, std::max_element(std::begin(counts), std::end(counts)) - std::begin(counts));
    EXPECT_EQ(r.distinct, 256 - std::count(std::begin(counts), std::end(counts), 0));
    const ld p = most / n;
    const ld bound = std::min(1.0L, p + 2.5758293035489008L * std::sqrt(p * (1 - p) / (n - 1)));
    expect_relative(r.mcv_p_upper, bound, "mcv_p_upper");
    if (bound < 1) expect_relative(r.mcv_min_entropy, -std::log2(bound), "mcv_min_entropy");
}

TEST(Report, FieldsMatchTheirDefinitions) {
    for (std::size_t len : {2, 6, 7, 100, 1000, 4096, 100'000})
        expect_matches_definitions(random_bytes(len, len));
    expect_matches_definitions(circle_edge_bytes(500, 1));
    const std::string sentence = "The quick brown fox jumps over the lazy dog. ";
    Bytes text;
    while (text.size() < 5000)
        text.insert(text.end(), sentence.begin(), sentence.end());
    expect_matches_definitions(text);
}

TEST(Report, EntropiesAreTalvorasBitForBit) {
    std::mt19937_64 rng(5);
    for (int round = 0; round < 200; ++round) {
        // Skewed and uniform inputs, lengths across the table and the fit.
        Bytes b = random_bytes(rng() % 3000, round);
        if (round % 2)
            for (auto& byte : b)
                byte = static_cast<std::uint8_t>(byte % (1 + round % 9));
        const Report r = make_report(summarize(b));
        EXPECT_EQ(bits(r.shannon), bits(b.empty() ? 0.0 : shannon_entropy(b)));
        EXPECT_EQ(bits(r.metric), bits(metric_entropy(b)));
        EXPECT_EQ(bits(r.normalized), bits(normalized_metric_entropy(b)));
        EXPECT_EQ(bits(r.min_entropy), bits(min_entropy(b)));
    }
}

TEST(Report, UndefinedFieldsAreNaN) {
    const Report empty = make_report(summarize({}));
    EXPECT_EQ(empty.n, 0u);
    EXPECT_EQ(empty.distinct, 0u);
    EXPECT_FALSE(empty.mode.has_value());
    EXPECT_EQ(bits(empty.shannon), bits(0.0));
    EXPECT_EQ(bits(empty.min_entropy), bits(0.0));
    for (double field :
         {empty.mcv_p_upper, empty.mcv_min_entropy, empty.chi_square, empty.p_value, empty.mean,
          empty.monte_carlo_pi, empty.monte_carlo_pi_error, empty.serial_correlation})
        EXPECT_TRUE(std::isnan(field));

    const Report one = make_report(summarize(Bytes{42}));
    EXPECT_EQ(one.mode, 42);
    EXPECT_EQ(one.mean, 42.0);
    EXPECT_EQ(one.chi_square, 255.0);
    EXPECT_TRUE(std::isnan(one.mcv_p_upper));
    EXPECT_TRUE(std::isnan(one.serial_correlation));
    EXPECT_TRUE(std::isnan(one.monte_carlo_pi));

    // Five bytes: no whole group; a constant input: no variance.
    EXPECT_TRUE(std::isnan(make_report(summarize(Bytes(5, 1))).monte_carlo_pi_error));
    const Report constant = make_report(summarize(Bytes(6, 7)));
    EXPECT_TRUE(std::isnan(constant.serial_correlation));
    EXPECT_EQ(constant.monte_carlo_pi, 4.0);
    EXPECT_EQ(bits(constant.mcv_p_upper), bits(1.0));
    EXPECT_EQ(bits(constant.mcv_min_entropy), bits(-0.0));
}

TEST(Report, ModeIsTheLowestOfTheMostFrequent) {
    EXPECT_EQ(make_report(summarize(Bytes{9, 3, 9, 3, 200})).mode, 3);
    EXPECT_EQ(make_report(summarize(Bytes{255, 0})).mode, 0);
}

TEST(Report, UniformBytesAreTheTextbookCase) {
    Bytes all;
    for (int round = 0; round < 4; ++round)
        for (int v = 0; v < 256; ++v)
            all.push_back(static_cast<std::uint8_t>(v));
    const Report r = make_report(summarize(all));
    EXPECT_EQ(bits(r.chi_square), bits(0.0));
    EXPECT_EQ(r.p_value, 1.0);
    EXPECT_EQ(r.mean, 127.5);
    EXPECT_EQ(r.distinct, 256u);
    EXPECT_EQ(r.mode, 0);
}

// A part standing for 2^58 bytes: 0x00 in the first half, 0xff in the
// second. n * S_xx is about 2^131, far past 128 bits.
TEST(Report, SumsPast128BitsStayExact) {
    const std::uint64_t half = std::uint64_t{1} << 57;
    StreamPart part;
    part.n = 2 * half;
    part.counts.counts[0] = half;
    part.counts.counts[255] = half;
    part.sum_xy = u128{255 * 255} * (half - 1); // the pairs inside the 0xff run
    part.head = {0, 0, 0, 0, 0};
    part.tail = {255, 255, 255, 255, 255};
    const Report r = make_report(part);
    EXPECT_EQ(r.mean, 127.5);
    // 256 * sum(count^2) - n^2 = 2^116 * 127, over n = 2^58.
    EXPECT_EQ(r.chi_square, 127.0 * 0x1p58);
    EXPECT_EQ(r.p_value, 0.0);
    // (m^2 - 2m) / m^2 for m = 2^57 bytes in each half: 1 - 2^-56, nearest
    // double 1.0; any wrap-around would give something far from it.
    EXPECT_EQ(r.serial_correlation, 1.0);
    EXPECT_EQ(r.mcv_p_upper,
              0.5 + 2.5758293035489008 * std::sqrt(0.25 / static_cast<double>(part.n - 1)));

    // Alternating 0x00 0xff: every pair, the closing one too, is 0.
    part.sum_xy = 0;
    part.tail = {0, 255, 0, 255, 255};
    EXPECT_EQ(make_report(part).serial_correlation, -1.0);

    // Two values of 2^62 each: 256 * sum(count^2) = 2^133.
    EXPECT_EQ(chi_square_statistic(u128{2} << 124, std::uint64_t{1} << 63), 127.0 * 0x1p63);
}

TEST(ExactRatio, ProductsDifferencesAndRoundingOfWideIntegers) {
    const u128 max = ~u128{0};
    // (2^128 - 1)^2 = 2^256 - 2^129 + 1: its double is 2^256.
    EXPECT_EQ(UInt256::product(max, max).to_double(), 0x1p256);
    // 2^128 + 2^75 lies exactly between two doubles: ties go to even (down);
    // one more unit in the last place of the 256 bits tips it up.
    const UInt256 tie = UInt256::product(u128{1} << 64, (u128{1} << 64) + (u128{1} << 11));
    EXPECT_EQ(tie.to_double(), 0x1p128);
    const UInt256 above = UInt256::product(u128{1} << 64, (u128{1} << 64) + (u128{1} << 11) + 1);
    EXPECT_EQ(above.to_double(), 0x1p128 + 0x1p76);
    // A sticky bit far below the kept ones decides the same way.
    EXPECT_EQ(tie.minus(UInt256(1)).to_double(), 0x1p128);
    EXPECT_EQ(UInt256::product(max, 3).minus(UInt256::product(max, 2)), UInt256(max));
    EXPECT_EQ(UInt256::product(max, max) <=> UInt256(max), std::strong_ordering::greater);
    EXPECT_EQ(difference_ratio(UInt256(3), UInt256(9), UInt256(4)), -1.5);
    EXPECT_TRUE(std::isnan(difference_ratio(UInt256(3), UInt256(1), UInt256(0))));
}

} // namespace
} // namespace talvora::tools::testing
