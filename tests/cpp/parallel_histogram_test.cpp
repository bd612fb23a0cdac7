// tests/cpp/parallel_histogram_test.cpp: the parallel counter gives the
// sequential histogram for every length around the chunk seams and every
// pool size, more workers than chunks included.
#include "entropy/parallel_histogram.h"
#include "pool/pool.h"

#include "threads_at_once.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

namespace talvora {
namespace {

const std::vector<std::uint8_t>& random_bytes() {
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> b(3 * (std::size_t{1} << 20) + 12'345);
        std::mt19937_64 rng(2024);
        for (auto& byte : b)
            byte = static_cast<std::uint8_t>(rng() >> 56);
        return b;
    }();
    return bytes;
}

// Pools live for the whole test program; making 64 threads per case would
// only slow the test down.
WorkerPool& pool_of(std::size_t workers) {
    static std::map<std::size_t, std::unique_ptr<WorkerPool>> pools;
    auto& pool = pools[workers];
    if (!pool) pool = std::make_unique<WorkerPool>(workers);
    return *pool;
}

std::size_t machine_workers() {
    return std::max(1u, std::thread::hardware_concurrency());
}

std::uint64_t total(const ByteHistogram& histogram) {
    return std::accumulate(histogram.counts.begin(), histogram.counts.end(), std::uint64_t{0});
}

class SeamsByWorkers : public testing::TestWithParam<std::tuple<std::size_t, std::size_t>> {};

TEST_P(SeamsByWorkers, EqualsTheSequentialHistogram) {
    const auto [workers, length] = GetParam();
    const ByteView bytes = ByteView(random_bytes()).first(length);
    const ByteHistogram parallel = count_bytes_parallel(bytes, pool_of(workers));
    EXPECT_EQ(parallel, count_bytes_naive(bytes));
    EXPECT_EQ(total(parallel), length);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, SeamsByWorkers,
    testing::Combine(testing::Values(1, 2, 3, machine_workers(), 64),
                     testing::Values(PARALLEL_MIN_LEN, PARALLEL_MIN_LEN + 1, 5 * CHUNK_LEN - 1,
                                     5 * CHUNK_LEN + 1, 16 * CHUNK_LEN, 17 * CHUNK_LEN - 1,
                                     33 * CHUNK_LEN + 1, random_bytes().size())));

TEST(ParallelHistogram, OneRepeatedValueCountsAtItsIndexOnly) {
    const std::vector<std::uint8_t> bytes(PARALLEL_MIN_LEN + 1, 0xab);
    for (const std::size_t workers : {1u, 2u, 64u}) {
        const ByteHistogram histogram = count_bytes_parallel(bytes, pool_of(workers));
        ByteHistogram expected;
        expected.counts[0xab] = bytes.size();
        EXPECT_EQ(histogram, expected) << workers << " workers";
    }
}

TEST(ParallelHistogram, CallersOnSeveralThreadsShareAPool) {
    WorkerPool& pool = pool_of(3);
    const ByteView bytes(random_bytes());
    const ByteHistogram expected = count_bytes_naive(bytes);
    std::atomic<int> wrong{0};
    on_threads_at_once(4, [&](int) {
        for (int round = 0; round < 3; ++round)
            if (count_bytes_parallel(bytes, pool) != expected) ++wrong;
    });
    EXPECT_EQ(wrong.load(), 0);
}

TEST(ParallelHistogram, FromAWorkerTheJoinRunsInPlace) {
    WorkerPool& pool = pool_of(2);
    const ByteView bytes = ByteView(random_bytes()).first(PARALLEL_MIN_LEN + 3);
    const ByteHistogram histogram = pool.run_blocking([&] { return count_bytes_parallel(bytes); });
    EXPECT_EQ(histogram, count_bytes_naive(bytes));
}

TEST(ChunkRange, CountsAndSplitsWholeChunks) {
    const std::vector<std::uint8_t> bytes(5 * CHUNK_LEN + 1);
    const ChunkRange all(bytes, CHUNK_LEN);
    EXPECT_EQ(all.chunk_count(), 6u); // the last one byte long
    const ChunkRange::Halves halves = all.split_at(3);
    EXPECT_EQ(halves.left.bytes().data(), bytes.data());
    EXPECT_EQ(halves.left.bytes().size(), 3 * CHUNK_LEN);
    EXPECT_EQ(halves.right.bytes().data(), bytes.data() + 3 * CHUNK_LEN);
    EXPECT_EQ(halves.right.bytes().size(), 2 * CHUNK_LEN + 1);
    EXPECT_EQ(halves.right.chunk_count(), 3u);
    EXPECT_EQ(ChunkRange(ByteView(bytes).first(4 * CHUNK_LEN), CHUNK_LEN).chunk_count(), 4u);
    // A mid past the end leaves everything on the left.
    const ChunkRange::Halves past = halves.right.split_at(7);
    EXPECT_EQ(past.left.bytes().size(), 2 * CHUNK_LEN + 1);
    EXPECT_TRUE(past.right.bytes().empty());
}

// Every range of k chunks, whatever its last chunk's length, splits at k / 2
// into k / 2 whole chunks on the left and the remaining k - k / 2 chunks,
// the short one included, on the right.
TEST(ChunkRange, SplitsIntoHalvesOfWholeChunks) {
    constexpr std::size_t LEN = 4;
    const std::vector<std::uint8_t> bytes(10 * LEN);
    for (std::size_t k = 2; k <= 9; ++k)
        for (const std::size_t last : {std::size_t{1}, LEN - 1, LEN}) {
            const ChunkRange range(ByteView(bytes).first((k - 1) * LEN + last), LEN);
            const ChunkRange::Halves halves = range.split_at(k / 2);
            EXPECT_EQ(halves.left.bytes().size(), k / 2 * LEN) << k << " chunks, last " << last;
            EXPECT_EQ(halves.left.chunk_count(), k / 2) << k << " chunks, last " << last;
            EXPECT_EQ(halves.right.chunk_count(), k - k / 2) << k << " chunks, last " << last;
            EXPECT_EQ(halves.right.bytes().data(), halves.left.bytes().data() + k / 2 * LEN);
        }
}

// How many times in a row a budget lets a range of 8 chunks split, unstolen.
std::size_t splits_left(SplitBudget budget) {
    std::size_t splits = 0;
    while (budget.try_split(8, false, 4))
        ++splits;
    return splits;
}

TEST(SplitBudget, HalvesUntilZeroAndResetsWhenMigrated) {
    // 5 -> 2 -> 1 -> 0: three splits, then none.
    EXPECT_EQ(splits_left(SplitBudget(5)), 3u);
    EXPECT_EQ(splits_left(SplitBudget(0)), 0u);
    // Stolen: at least the worker count again (4 -> 2 -> 1 -> 0 afterwards),
    // or half of a larger budget (20 -> 10 -> 5 -> 2 -> 1 -> 0).
    SplitBudget spent(0);
    EXPECT_TRUE(spent.try_split(8, true, 4));
    EXPECT_EQ(splits_left(spent), 3u);
    SplitBudget large(20);
    EXPECT_TRUE(large.try_split(8, true, 4));
    EXPECT_EQ(splits_left(large), 4u);
    // One chunk is never split, and its budget is left alone.
    SplitBudget kept(20);
    EXPECT_FALSE(kept.try_split(1, true, 4));
    EXPECT_EQ(splits_left(kept), 5u);
}

} // namespace
} // namespace talvora
