// tests/cpp/tools/stream_part_test.cpp: every kernel gives the part the
// bytes themselves give; parts appended in any split and any merge tree
// give the part, and the report, of the whole.
#include "tools/stream/kernel.h"
#include "tools/stream/report.h"

#include "pool/pool.h"
#include "stream_oracle.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

namespace talvora::tools::testing {
namespace {

std::vector<const Kernel*> supported_kernels() {
    std::vector<const Kernel*> kernels;
    for (const Kernel* kernel : all_kernels())
        if (kernel->supported()) kernels.push_back(kernel);
    return kernels;
}

// Inputs that reach every branch of a kernel: random, one value, the
// largest products, points on the circle's edge.
std::vector<Bytes> crafted_inputs() {
    std::vector<Bytes> inputs = {random_bytes(5000, 1), Bytes(3000, 0xff), Bytes(3000, 0),
                                 circle_edge_bytes(700, 2)};
    Bytes stripes;
    for (std::size_t i = 0; i < 4000; ++i)
        stripes.push_back(i % 7 < 3 ? 0xff : static_cast<std::uint8_t>(i));
    inputs.push_back(stripes);
    return inputs;
}

TEST(Kernels, EveryTailLengthAndOffsetMatchesTheBytes) {
    const auto inputs = crafted_inputs();
    for (const Kernel* kernel : supported_kernels()) {
        SCOPED_TRACE(kernel->name);
        for (const Bytes& input : inputs) {
            // Every length up to a few vector blocks, from several starting
            // offsets, so that loads are misaligned in every way.
            for (std::size_t start : {0, 1, 7, 63}) {
                for (std::size_t len = 0; len <= 400 && start + len <= input.size(); ++len) {
                    const Bytes slice(input.begin() + start, input.begin() + start + len);
                    ASSERT_EQ(summarize_with(*kernel, slice), oracle_part(slice))
                        << "start " << start << " len " << len;
                }
            }
            ASSERT_EQ(summarize_with(*kernel, input), oracle_part(input));
        }
    }
}

TEST(Kernels, LongInputsPastEveryPartialSumFlush) {
    // All-0xff maximises every running sum; 3 MiB passes the flush interval
    // of every narrow accumulator several times.
    const std::vector<Bytes> inputs = {Bytes((3 << 20) + 11, 0xff), random_bytes((3 << 20) + 5, 9)};
    for (const Bytes& input : inputs) {
        const StreamPart expected = oracle_part(input);
        for (const Kernel* kernel : supported_kernels()) {
            SCOPED_TRACE(kernel->name);
            EXPECT_EQ(summarize_with(*kernel, input), expected);
        }
    }
}

TEST(Kernels, TheBestIsSupportedAndSummarizeUsesIt) {
    const Kernel& best = best_kernel();
    EXPECT_TRUE(best.supported());
    const Bytes input = random_bytes(1000, 3);
    EXPECT_EQ(summarize(input), summarize_with(best, input));
    EXPECT_EQ(std::string(all_kernels().front()->name), "scalar");
}

// Cuts bytes at random points: parts of 0, 1 and a few bytes are common.
std::vector<Bytes> random_split(const Bytes& bytes, std::mt19937_64& rng) {
    std::vector<Bytes> parts;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t len =
            std::min<std::size_t>(bytes.size() - at, rng() % 3 == 0 ? rng() % 3 : rng() % 40);
        parts.emplace_back(bytes.begin() + at, bytes.begin() + at + len);
        at += len;
    }
    if (rng() % 2) parts.insert(parts.begin() + rng() % (parts.size() + 1), Bytes{});
    return parts;
}

// Joins parts [first, last) in a random binary tree, keeping their order.
StreamPart merge_tree(const std::vector<StreamPart>& parts, std::size_t first, std::size_t last,
                      std::mt19937_64& rng) {
    if (last - first == 1) return parts[first];
    const std::size_t mid = first + 1 + rng() % (last - first - 1);
    StreamPart left = merge_tree(parts, first, mid, rng);
    append(left, merge_tree(parts, mid, last, rng));
    return left;
}

TEST(Append, AnySplitAndAnyTreeGivesTheWhole) {
    std::mt19937_64 rng(11);
    for (int round = 0; round < 300; ++round) {
        Bytes whole = round % 3 == 0 ? circle_edge_bytes(rng() % 40, round)
                                     : random_bytes(rng() % 300, round);
        const StreamPart expected = oracle_part(whole);
        const Report expected_report = make_report(expected);
        const std::vector<Bytes> pieces = random_split(whole, rng);
        std::vector<StreamPart> parts;
        for (const Bytes& piece : pieces)
            parts.push_back(summarize(piece));
        if (parts.empty()) parts.push_back(summarize({}));

        // Left to right, one piece at a time, as a stream of updates does.
        StreamPart running;
        for (const StreamPart& part : parts)
            append(running, part);
        ASSERT_EQ(running, expected) << "round " << round;
        // In a random tree, as merges of parts from other threads do.
        const StreamPart tree = merge_tree(parts, 0, parts.size(), rng);
        ASSERT_EQ(tree, expected) << "round " << round;
        ASSERT_TRUE(same_report(make_report(tree), expected_report));
    }
}

TEST(Append, EveryPairOfShortLengths) {
    // Every way of cutting up to 14 bytes in two or three, so that each
    // edge case of the seam (short left, short right, both) is met.
    const Bytes whole = circle_edge_bytes(3, 5);
    for (std::size_t len = 0; len <= 14; ++len) {
        const Bytes bytes(whole.begin(), whole.begin() + len);
        for (std::size_t a = 0; a <= len; ++a) {
            for (std::size_t b = a; b <= len; ++b) {
                StreamPart part = summarize(ByteView(bytes).first(a));
                append(part, summarize(ByteView(bytes).subspan(a, b - a)));
                append(part, summarize(ByteView(bytes).subspan(b)));
                ASSERT_EQ(part, oracle_part(bytes)) << len << " cut at " << a << ", " << b;
            }
        }
    }
}

TEST(Append, APartToItselfIsTheBytesTwice) {
    for (std::size_t len : {0, 1, 4, 5, 6, 7, 100}) {
        const Bytes bytes = random_bytes(len, len);
        Bytes twice = bytes;
        twice.insert(twice.end(), bytes.begin(), bytes.end());
        StreamPart part = summarize(bytes);
        append(part, part);
        EXPECT_EQ(part, oracle_part(twice)) << len;
    }
}

TEST(Append, OverflowOfTheCountIsFlagged) {
    StreamPart big, one = summarize(Bytes{1});
    big.n = std::numeric_limits<std::uint64_t>::max();
    EXPECT_TRUE(append_overflows(big, one));
    big.n -= 1;
    EXPECT_FALSE(append_overflows(big, one));
}

WorkerPool& pool_of(std::size_t workers) {
    static std::map<std::size_t, std::unique_ptr<WorkerPool>> pools;
    auto& pool = pools[workers];
    if (!pool) pool = std::make_unique<WorkerPool>(workers);
    return *pool;
}

TEST(SummarizeParallel, EqualsTheSequentialPartForAnyPoolAndLength) {
    const Bytes input = random_bytes((1 << 20) + 4099, 21);
    for (std::size_t workers : {1, 2, 3, 8}) {
        for (std::size_t len :
             {std::size_t{0}, std::size_t{1000}, PARALLEL_MIN_LEN - 1, PARALLEL_MIN_LEN,
              PARALLEL_MIN_LEN + 5, CHUNK_LEN * 7 + 1, input.size()}) {
            const ByteView bytes = ByteView(input).first(len);
            ASSERT_EQ(summarize_parallel(bytes, pool_of(workers)), summarize(bytes))
                << workers << " workers, " << len << " bytes";
        }
    }
}

} // namespace
} // namespace talvora::tools::testing
