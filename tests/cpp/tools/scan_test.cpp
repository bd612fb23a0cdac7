// tests/cpp/tools/scan_test.cpp: every window's values bit for bit against
// counting that window's bytes and calling the one-shot measures, for random
// window/step pairs, on every lane path, block size and pool size, and for
// the streaming form under any split of its input.
#include "pool/pool.h"
#include "tools/scan/full_windows.h"
#include "tools/scan/scan.h"
#include "tools/scan/scanner.h"
#include "tools/scan/window_counts.h"
#include "tools/scan/window_terms.h"
#include "tools/stream/report.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace talvora::tools {
namespace {

WorkerPool& pool_of(std::size_t workers) {
    static std::map<std::size_t, std::unique_ptr<WorkerPool>> pools;
    auto& pool = pools[workers];
    if (!pool) pool = std::make_unique<WorkerPool>(workers);
    return *pool;
}

enum class Shape { Random, Text, OneValue, Sandwich };

std::vector<std::uint8_t> make_bytes(std::size_t n, Shape shape, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        switch (shape) {
        case Shape::Random:
            bytes[i] = static_cast<std::uint8_t>(rng());
            break;
        case Shape::Text: // a few hot values and a long tail: the top count moves often
            bytes[i] = static_cast<std::uint8_t>(rng() % 4 ? ' ' + rng() % 3 : 'a' + rng() % 26);
            break;
        case Shape::OneValue:
            bytes[i] = 0x5a;
            break;
        case Shape::Sandwich: // zeros, random, zeros: windows run from one value to many
            bytes[i] = i > n / 3 && i < 2 * n / 3 ? static_cast<std::uint8_t>(rng()) : 0;
            break;
        }
    }
    return bytes;
}

// The scan by its definition: each window counted on its own and measured
// by the one-shot functions.
ScanColumns scan_by_definition(ByteView bytes, ScanShape shape, std::uint64_t origin = 0) {
    ScanColumns expected;
    for (std::uint64_t start = 0; start < bytes.size(); start += shape.step) {
        const ByteView window =
            bytes.subspan(start).first(std::min<std::uint64_t>(shape.window, bytes.size() - start));
        const ByteHistogram histogram = count_bytes_naive(window);
        expected.offsets.push_back(origin + start);
        expected.lengths.push_back(window.size());
        expected.shannon.push_back(histogram_entropy(histogram, window.size()));
        expected.min_entropy.push_back(histogram_min_entropy(histogram, window.size()));
        expected.chi_square.push_back(
            chi_square_statistic(sum_of_squares(histogram), window.size()));
        if (start + window.size() == bytes.size()) break;
    }
    return expected;
}

// Equal column for column, doubles compared by their bits.
testing::AssertionResult same_scan(const ScanColumns& actual, const ScanColumns& expected) {
    if (actual.offsets != expected.offsets || actual.lengths != expected.lengths)
        return testing::AssertionFailure()
               << "windows differ: " << actual.size() << " vs " << expected.size();
    const auto bits_differ = [](const std::vector<double>& a, const std::vector<double>& b) {
        for (std::size_t i = 0; i < a.size(); ++i)
            if (std::bit_cast<std::uint64_t>(a[i]) != std::bit_cast<std::uint64_t>(b[i]))
                return static_cast<std::ptrdiff_t>(i);
        return std::ptrdiff_t{-1};
    };
    for (const auto& [name, a, b] :
         {std::tuple{"shannon", &actual.shannon, &expected.shannon},
          std::tuple{"min_entropy", &actual.min_entropy, &expected.min_entropy},
          std::tuple{"chi_square", &actual.chi_square, &expected.chi_square}})
        if (const std::ptrdiff_t i = bits_differ(*a, *b); i >= 0)
            return testing::AssertionFailure()
                   << name << " of window " << i << " at " << actual.offsets[i] << ": " << (*a)[i]
                   << " vs " << (*b)[i];
    return testing::AssertionSuccess();
}

std::vector<LanePath> supported_paths() {
    std::vector<LanePath> paths;
    for (const LanePath path : {LanePath::Scalar, LanePath::Avx2, LanePath::Avx512})
        if (lane_path_supported(path)) paths.push_back(path);
    return paths;
}

std::string name_of(LanePath path) {
    return path == LanePath::Scalar ? "scalar" : path == LanePath::Avx2 ? "avx2" : "avx512";
}

struct Case {
    std::size_t n;
    ScanShape shape;
};

// Window/step pairs of every kind: sliding (step far below the window),
// overlapping, touching, with gaps, windows longer than the data.
std::vector<Case> random_cases(unsigned seed, int count, std::size_t max_n) {
    std::mt19937_64 rng(seed);
    std::vector<Case> cases;
    for (int i = 0; i < count; ++i) {
        const std::size_t n = rng() % (max_n + 1);
        const std::uint64_t window = 1 + rng() % (rng() % 4 == 0 ? 2 * max_n : max_n / 4 + 1);
        // Log-uniform steps from 1 to twice the window.
        const double fraction = std::uniform_real_distribution<>(0.0, 1.0)(rng);
        const auto step = static_cast<std::uint64_t>(
            std::max(1.0, std::exp(fraction * std::log(2.0 * static_cast<double>(window)))));
        cases.push_back({n, {window, step}});
    }
    return cases;
}

class ScanPaths : public testing::TestWithParam<LanePath> {};

TEST_P(ScanPaths, EveryWindowEqualsTheOneShotMeasures) {
    int sliding = 0;
    for (const Shape shape : {Shape::Random, Shape::Text, Shape::OneValue, Shape::Sandwich}) {
        const std::vector<std::uint8_t> bytes = make_bytes(6000, shape, 7);
        for (const Case& c : random_cases(static_cast<unsigned>(shape) + 11, 60, bytes.size())) {
            const ByteView data = ByteView(bytes).first(c.n);
            sliding += run_slides(c.shape);
            const ScanColumns expected = scan_by_definition(data, c.shape);
            ASSERT_EQ(window_count(c.n, c.shape), expected.size());
            const ScanColumns actual = scan(data, c.shape, pool_of(2), {GetParam(), 0});
            ASSERT_TRUE(same_scan(actual, expected))
                << "n " << c.n << " window " << c.shape.window << " step " << c.shape.step;
        }
    }
    EXPECT_GT(sliding, 40); // the random pairs reach the sliding kernel
}

TEST_P(ScanPaths, LongSlidingRunsCrossManyLaneBatches) {
    const std::vector<std::uint8_t> bytes = make_bytes(40'000, Shape::Text, 3);
    for (const ScanShape shape : {ScanShape{4096, 16}, ScanShape{1000, 1}, ScanShape{257, 3}}) {
        const ScanColumns actual = scan(bytes, shape, pool_of(3), {GetParam(), 0});
        EXPECT_TRUE(same_scan(actual, scan_by_definition(bytes, shape)))
            << shape.window << "/" << shape.step;
    }
}

INSTANTIATE_TEST_SUITE_P(Supported, ScanPaths, testing::ValuesIn(supported_paths()),
                         [](const auto& info) { return name_of(info.param); });

TEST(Scan, WindowCountFollowsTheStopRules) {
    EXPECT_EQ(window_count(0, {4, 1}), 0u);
    EXPECT_EQ(window_count(3, {4, 1}), 1u);  // one short window
    EXPECT_EQ(window_count(4, {4, 1}), 1u);  // one full window reaching the end
    EXPECT_EQ(window_count(10, {4, 2}), 4u); // 0, 2, 4, 6: the last one ends at 10
    EXPECT_EQ(window_count(11, {4, 2}), 5u); // 8 is short
    EXPECT_EQ(window_count(10, {2, 5}), 2u); // gaps: 0 and 5, bytes 7..9 unseen
    EXPECT_EQ(window_count(11, {2, 5}), 3u); // 10 is short
    EXPECT_EQ(window_count(12, {4, 4}), 3u);
    EXPECT_EQ(window_count(~std::uint64_t{0}, {1, ~std::uint64_t{0}}), 1u);
    EXPECT_THROW(window_count(10, {0, 1}), std::invalid_argument);
    EXPECT_THROW(window_count(10, {1, 0}), std::invalid_argument);
}

TEST(Scan, SingleByteAndSingleValueWindowsKeepTheSignOfZero) {
    const std::vector<std::uint8_t> bytes(100, 7);
    for (const LanePath path : supported_paths())
        for (const ScanShape shape : {ScanShape{1, 1}, ScanShape{64, 1}, ScanShape{100, 100}}) {
            const ScanColumns columns = scan(bytes, shape, pool_of(1), {path, 0});
            ASSERT_FALSE(columns.shannon.empty());
            for (const double h : columns.shannon) {
                EXPECT_EQ(h, 0.0);
                EXPECT_TRUE(std::signbit(h)) << name_of(path);
            }
        }
}

TEST(Scan, ResultsDoNotDependOnBlocksOrPoolSize) {
    const std::vector<std::uint8_t> bytes = make_bytes(8000, Shape::Sandwich, 5);
    for (const ScanShape shape : {ScanShape{2048, 8}, ScanShape{512, 512}, ScanShape{300, 1000}}) {
        const ScanColumns expected = scan_by_definition(bytes, shape);
        for (const std::size_t workers : {1u, 3u, 8u})
            for (const std::uint64_t block : {0u, 1u, 17u, 100'000u}) {
                const ScanColumns actual =
                    scan(bytes, shape, pool_of(workers), {best_lane_path(), block});
                EXPECT_TRUE(same_scan(actual, expected))
                    << shape.window << "/" << shape.step << " on " << workers
                    << " workers, blocks of " << block;
            }
    }
}

TEST(Scan, IntoOffsetsFromAnOrigin) {
    const std::vector<std::uint8_t> bytes = make_bytes(1000, Shape::Random, 9);
    const ScanShape shape{300, 200};
    const ScanColumns expected = scan_by_definition(bytes, shape, 5000);
    ScanColumns actual;
    scan_into(bytes, shape, 5000, actual.extend(window_count(bytes.size(), shape)), pool_of(2));
    EXPECT_TRUE(same_scan(actual, expected));
    EXPECT_EQ(actual.offsets.back(), 5800u);
    EXPECT_EQ(actual.lengths.back(), 200u);
}

TEST(WindowTerms, TableValuesEqualTheTermsWorkedOutDirectly) {
    // Long enough that the largest counts lie past the table.
    const std::uint64_t length = (std::uint64_t{1} << 20) + 77;
    const WindowTerms terms(length);
    const double as_double = static_cast<double>(length);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(terms.shannon(0)), 0u); // +0.0
    std::mt19937_64 rng(1);
    for (int round = 0; round < 2; ++round) // the second round reads the table
        for (std::uint64_t count :
             {std::uint64_t{1}, std::uint64_t{2}, length / 2, (std::uint64_t{1} << 20) - 1,
              std::uint64_t{1} << 20, length - 1, length, rng() % length + 1}) {
            EXPECT_EQ(terms.shannon(count), shannon_term(count, as_double)) << count;
            EXPECT_EQ(terms.min_entropy(count), min_entropy_of(count, as_double)) << count;
        }
}

TEST(WindowChiSquare, EqualsTheWideFormBelowAndAboveTheNarrowLimit) {
    std::mt19937_64 rng(4);
    constexpr std::uint64_t LIMIT = std::uint64_t{1} << 28;
    for (int round = 0; round < 20'000; ++round) {
        const std::uint64_t n = round < 4 ? LIMIT - 2 + static_cast<std::uint64_t>(round)
                                          : 1 + rng() % (rng() % 2 ? LIMIT : 5000);
        // Counts from all in one bin (the largest sum) to spread evenly.
        const std::uint64_t bins = 1 + rng() % 256;
        unsigned __int128 sum_squares = 0;
        std::uint64_t left = n;
        for (std::uint64_t b = 0; b < bins; ++b) {
            const std::uint64_t c = b + 1 == bins ? left : rng() % (left / (bins - b) * 2 + 1);
            const std::uint64_t taken = std::min(c, left);
            sum_squares += static_cast<unsigned __int128>(taken) * taken;
            left -= taken;
        }
        EXPECT_EQ(std::bit_cast<std::uint64_t>(window_chi_square(sum_squares, n)),
                  std::bit_cast<std::uint64_t>(chi_square_statistic(sum_squares, n)))
            << n << " bytes in " << bins << " bins";
    }
}

// Feeds bytes to a scanner in pieces cut at the given sizes (cycled).
ScanColumns fed_in_pieces(Scanner& scanner, ByteView bytes, const std::vector<std::size_t>& sizes) {
    ScanColumns got;
    std::size_t done = 0;
    for (std::size_t i = 0; done < bytes.size(); ++i) {
        const std::size_t size = std::min(sizes[i % sizes.size()], bytes.size() - done);
        scanner.feed(bytes.subspan(done, size), pool_of(2));
        done += size;
        got.append(scanner.take());
    }
    scanner.finish(pool_of(2));
    got.append(scanner.take());
    return got;
}

TEST(Scanner, AnySplitOfTheStreamGivesTheWholeScan) {
    std::mt19937_64 rng(21);
    const std::vector<std::uint8_t> bytes = make_bytes(5000, Shape::Text, 13);
    for (const Case& c : random_cases(99, 50, bytes.size())) {
        const ByteView data = ByteView(bytes).first(c.n);
        const ScanColumns expected = scan_by_definition(data, c.shape);
        for (const std::vector<std::size_t>& sizes :
             std::vector<std::vector<std::size_t>>{{1},
                                                   {0, 7, 0, 1},
                                                   {c.shape.window},
                                                   {c.shape.window - 1, c.shape.step + 1},
                                                   {rng() % 3000 + 1, rng() % 300 + 1}}) {
            Scanner scanner(c.shape);
            EXPECT_TRUE(same_scan(fed_in_pieces(scanner, data, sizes), expected))
                << "n " << c.n << " window " << c.shape.window << " step " << c.shape.step
                << " first piece " << sizes[0];
        }
    }
}

TEST(Scanner, ChunksWithTheirSpansTogetherGiveTheWholeScan) {
    // A distributed scan: each chunk's scanner is fed its chunk and the bytes
    // after it that its windows need, and produces the windows starting in it.
    const std::vector<std::uint8_t> bytes = make_bytes(20'000, Shape::Sandwich, 17);
    const std::uint64_t origin = 1000; // the scan starts 1000 bytes into the stream
    const ByteView scanned = ByteView(bytes).subspan(origin);
    for (const ScanShape shape :
         {ScanShape{4096, 16}, ScanShape{1000, 999}, ScanShape{100, 3000}, ScanShape{30'000, 7}}) {
        const ScanColumns expected = scan_by_definition(scanned, shape, origin);
        for (const std::uint64_t chunk : {997u, 2999u, 4096u, 7000u}) {
            ScanColumns got;
            for (std::uint64_t begin = origin; begin < bytes.size(); begin += chunk) {
                Scanner scanner(shape, {origin, begin, begin + chunk});
                const std::uint64_t end =
                    std::min<std::uint64_t>(scanner.needed_end(), bytes.size());
                scanner.feed(ByteView(bytes).subspan(begin, end - begin), pool_of(2));
                if (end == bytes.size()) scanner.finish(pool_of(2));
                EXPECT_TRUE(scanner.done());
                got.append(scanner.take());
            }
            EXPECT_TRUE(same_scan(got, expected))
                << shape.window << "/" << shape.step << " in chunks of " << chunk;
        }
    }
}

TEST(Scanner, MisuseIsRefused) {
    EXPECT_THROW(Scanner({0, 1}), std::invalid_argument);
    EXPECT_THROW(Scanner({1, 0}), std::invalid_argument);
    EXPECT_THROW(Scanner({4, 4}, {10, 9}), std::invalid_argument);
    Scanner scanner({4, 4});
    const std::uint8_t byte = 1;
    scanner.feed(ByteView(&byte, 1), pool_of(1));
    scanner.finish(pool_of(1));
    scanner.finish(pool_of(1)); // a second end changes nothing
    EXPECT_EQ(scanner.columns().size(), 1u);
    EXPECT_THROW(scanner.feed(ByteView(&byte, 1), pool_of(1)), std::logic_error);
}

} // namespace
} // namespace talvora::tools
