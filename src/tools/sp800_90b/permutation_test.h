// src/tools/sp800_90b/permutation_test.h: the IID permutation test: where
// each statistic of the samples ranks among the same statistic of shuffled
// copies.
//
// Shuffles stop early: a statistic is settled, and no longer computed,
// once more than five shuffles scored at least its original value and more
// than five at most; the test passes when every statistic settles. The
// compression statistic costs far more than the others together, so it is
// computed on shuffles only when the others have all settled: if one of
// them does not, the test has failed whatever compression would show.
#pragma once

#include "pool/pool.h"
#include "tools/sp800_90b/permutation_statistics.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace talvora::tools::sp800_90b {

struct PermutationStatisticResult {
    std::string_view name;
    double original = 0;       // the statistic of the samples as they are
    std::uint32_t greater = 0; // shuffles with a larger value
    std::uint32_t equal = 0;   // ... with the same value
    std::uint32_t less = 0;    // ... with a smaller value
    // Whether it settled; nothing when the verdict was reached without
    // computing it on any shuffle (only ever the compression statistic).
    std::optional<bool> passed;
};

struct PermutationTestResult {
    std::array<PermutationStatisticResult, PERMUTATION_STATISTICS> statistics;
    std::uint64_t seed = 0;
    std::size_t permutations = 0;    // shuffles made: the most any statistic was computed on
    bool compression_needed = false; // computed on shuffles, the others having settled
    bool passed = false;
};

// Called between rounds of shuffles with the number made so far; returning
// false stops the test (it then throws PermutationTestStopped).
using PermutationProgress = std::function<bool(std::size_t permutations)>;

struct PermutationTestStopped {};

struct PermutationTestOptions {
    std::size_t permutations = 10'000; // at most this many shuffles
    std::uint64_t seed = 0;
    PermutationProgress progress;
};

// The test on literal symbols (fewer than 2^32) whose facts are data.
// Throws std::bad_alloc when memory runs out, also inside libbz2.
PermutationTestResult permutation_test(Symbols literal, const PermutationData& data,
                                       const PermutationTestOptions& options, WorkerPool& pool);

} // namespace talvora::tools::sp800_90b
