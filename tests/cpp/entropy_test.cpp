// tests/cpp/entropy_test.cpp: the counters and the four measures, bit for bit.
#include "entropy/entropy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <random>
#include <string_view>
#include <vector>

namespace talvora {
namespace {

ByteView view(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::vector<std::uint8_t> cycle(std::size_t len, unsigned period) {
    std::vector<std::uint8_t> bytes(len);
    for (std::size_t i = 0; i < len; ++i)
        bytes[i] = static_cast<std::uint8_t>(i % period);
    return bytes;
}

// Equal doubles, sign of zero included.
void expect_bits(double actual, double expected) {
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(std::signbit(actual), std::signbit(expected)) << actual;
}

struct Worked {
    const char* text;
    double shannon, metric, min, normalized;
    friend void PrintTo(const Worked& w, std::ostream* os) { *os << '"' << w.text << '"'; }
};

class WorkedNumbers : public testing::TestWithParam<Worked> {};

TEST_P(WorkedNumbers, AllFourMeasures) {
    const Worked& w = GetParam();
    const ByteView bytes = view(w.text);
    expect_bits(shannon_entropy(bytes), w.shannon);
    expect_bits(metric_entropy(bytes), w.metric);
    expect_bits(min_entropy(bytes), w.min);
    expect_bits(normalized_metric_entropy(bytes), w.normalized);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, WorkedNumbers,
    testing::Values(Worked{"a", -0.0, -0.0, -0.0, 0.0}, Worked{"aaaa", -0.0, -0.0, -0.0, -0.0},
                    Worked{"ab", 1.0, 0.125, 1.0, 1.0},
                    Worked{"abc", 1.584962500721156, 0.1981203125901445, 1.5849625007211563, 1.0},
                    Worked{"aab", 0.9182958340544896, 0.1147869792568112, 0.5849625007211563,
                           0.5823363165175288},
                    Worked{"cabbcacbc", 1.5304930567574826, 0.19131163209468532, 1.1699250014423124,
                           0.4876187769835759},
                    Worked{"hello world", 2.8453509366224368, 0.3556688670778046,
                           1.8744691179161412, 0.8317897326794229}));

TEST(Measures, EmptyBufferIsPositiveZero) {
    for (double v : {metric_entropy({}), min_entropy({}), normalized_metric_entropy({})})
        expect_bits(v, 0.0);
    ByteHistogram none;
    expect_bits(histogram_metric_entropy(none, 0), 0.0);
    expect_bits(histogram_min_entropy(none, 0), 0.0);
    expect_bits(histogram_normalized_metric_entropy(none, 0), 0.0);
}

TEST(Measures, OneRepeatedValueIsNegativeZero) {
    const std::vector<std::uint8_t> zeros(1000, 0);
    expect_bits(shannon_entropy(zeros), -0.0);
    expect_bits(metric_entropy(zeros), -0.0);
    expect_bits(min_entropy(zeros), -0.0);
    expect_bits(normalized_metric_entropy(zeros), -0.0);
    expect_bits(normalized_metric_entropy(view("zz")), -0.0);
}

TEST(Measures, UniformValuesGiveTheMaximum) {
    for (std::size_t len : {std::size_t{256}, std::size_t{1024}, PARALLEL_MIN_LEN}) {
        const auto bytes = cycle(len, 256);
        expect_bits(shannon_entropy(bytes), 8.0);
        expect_bits(metric_entropy(bytes), 1.0);
        expect_bits(min_entropy(bytes), 8.0);
        expect_bits(normalized_metric_entropy(bytes), 1.0);
    }
    // Uncapped, 256 values over 256 bytes and 1,024 bytes would exceed 1.0.
    EXPECT_EQ(8.0 / reference_entropy(256), 1.1150305271988366);
    EXPECT_EQ(8.0 / reference_entropy(1024), 1.0242353519321643);
}

TEST(Shannon, SumsInAscendingByteOrder) {
    // Counts 2, 3, 4 at rising byte values; the reverse order rounds lower.
    ByteHistogram ascending, descending;
    ascending.counts['a'] = 2, ascending.counts['b'] = 3, ascending.counts['c'] = 4;
    descending.counts['a'] = 4, descending.counts['b'] = 3, descending.counts['c'] = 2;
    expect_bits(histogram_entropy(ascending, 9), 1.5304930567574826);
    expect_bits(histogram_entropy(descending, 9), 1.5304930567574824);
}

// The sum term by term, each term worked out afresh.
double plain_entropy_sum(const ByteHistogram& histogram, std::uint64_t n) {
    double acc = -0.0;
    for (const std::uint64_t count : histogram.counts) {
        if (count == 0) continue;
        const double p = static_cast<double>(count) / static_cast<double>(n);
        acc = acc - std::log2(p) * p;
    }
    return acc;
}

TEST(Shannon, RepeatedAndSparseCountsSumLikeThePlainLoop) {
    std::mt19937_64 rng(11);
    for (const std::uint64_t most : {1u, 2u, 63u, 64u, 65u, 200u, 100'000u}) {
        for (int round = 0; round < 50; ++round) {
            ByteHistogram histogram;
            std::uint64_t n = 0;
            for (auto& count : histogram.counts) {
                count = rng() % 3 == 0 ? 0 : 1 + rng() % most;
                n += count;
            }
            if (n == 0) continue;
            expect_bits(histogram_entropy(histogram, n), plain_entropy_sum(histogram, n));
        }
    }
}

TEST(Shannon, RoundingMayExceedEightAndIsKept) {
    // 255,999,999 bytes: one value 999,999 times, the others 1,000,000 times.
    ByteHistogram histogram;
    histogram.counts.fill(1'000'000);
    histogram.counts[0] = 999'999;
    const std::uint64_t n = 255'999'999;
    expect_bits(histogram_entropy(histogram, n), 8.000000000000032);
    expect_bits(histogram_metric_entropy(histogram, n), 1.000000000000004);
    expect_bits(histogram_min_entropy(histogram, n), 7.999999994364472);
    expect_bits(histogram_normalized_metric_entropy(histogram, n), 1.0);
}

TEST(Normalized, ReferenceCurveFromOneThousandBytes) {
    expect_bits(reference_entropy(999), 7.803613030275777);
    expect_bits(reference_entropy(1000), 7.80602830101864);
    expect_bits(reference_entropy(1024), 7.81070481985262);
    expect_bits(reference_entropy(262'144), 7.999377557969366);
    expect_bits(reference_entropy(1'000'000), 7.999843568365205);
}

TEST(Normalized, BothSidesOfTheTableSeam) {
    const auto below = cycle(999, 111);
    expect_bits(shannon_entropy(below), 6.794415866350121);
    expect_bits(normalized_metric_entropy(below), 0.8706756524176352);
    const auto above = cycle(1000, 100);
    expect_bits(shannon_entropy(above), 6.6438561897747395);
    expect_bits(normalized_metric_entropy(above), 0.8511186397963425);
    const auto curve = cycle(1000, 200);
    expect_bits(shannon_entropy(curve), 7.643856189774741);
    expect_bits(normalized_metric_entropy(curve), 0.9792247600200558);
}

TEST(Normalized, TwoDifferentBytesAreCapped) {
    EXPECT_EQ(1.0 / reference_entropy(2), 1.003824571617864);
    expect_bits(normalized_metric_entropy(view("ab")), 1.0);
}

// The fast counter against the one-table loop: every tail length, unaligned
// starts, and inputs from one value to uniform noise.
TEST(Counting, FastCounterMatchesNaiveLoop) {
    std::mt19937_64 rng(7);
    std::vector<std::uint8_t> noise(70'000), skewed(70'000), constant(70'000, 0xAB);
    for (auto& b : noise)
        b = static_cast<std::uint8_t>(rng());
    for (auto& b : skewed)
        b = static_cast<std::uint8_t>(rng() % 7 == 0 ? rng() : 'e');
    for (const auto* data : {&noise, &skewed, &constant}) {
        for (std::size_t offset = 0; offset < 8; ++offset) {
            for (std::size_t len = 0; len <= 80; ++len) {
                const ByteView bytes(data->data() + offset, len);
                ASSERT_EQ(count_bytes_sub_tables(bytes), count_bytes_naive(bytes)) << len;
            }
            const ByteView tail(data->data() + offset, data->size() - offset);
            ASSERT_EQ(count_bytes_sub_tables(tail), count_bytes_naive(tail));
            ASSERT_EQ(count_bytes_sequential(tail), count_bytes_naive(tail));
            // Either side of the switch from one table to the sub-tables.
            for (std::size_t len = SUB_TABLES_MIN_LEN - 40; len <= SUB_TABLES_MIN_LEN + 40; ++len) {
                const ByteView bytes(data->data() + offset, len);
                ASSERT_EQ(count_bytes_sequential(bytes), count_bytes_naive(bytes)) << len;
            }
        }
    }
}

TEST(Counting, CountsAddUpToTheLength) {
    for (std::size_t len : {PARALLEL_MIN_LEN - 1, PARALLEL_MIN_LEN, PARALLEL_MIN_LEN + 1}) {
        const auto bytes = cycle(len, 251);
        const ByteHistogram histogram = count_bytes(bytes);
        std::uint64_t total = 0;
        for (auto c : histogram.counts)
            total += c;
        EXPECT_EQ(total, len);
        EXPECT_EQ(histogram, count_bytes_naive(bytes));
    }
}

} // namespace
} // namespace talvora
