// src/tools/sp800_90b/tuple_counts.h: counts of repeated tuples of every
// length at once: how often the most frequent tuple of each length occurs,
// and how many pairs of positions start equal tuples.
#pragma once

#include "tools/sp800_90b/samples.h"

#include <cstdint>
#include <vector>

namespace talvora::tools::sp800_90b {

struct TupleCounts {
    std::uint64_t n = 0;
    // The shortest length at which no tuple occurs min_count times (1 when
    // no symbol does), and the longest length of a tuple occurring twice
    // (overlaps allowed; 0 when no symbol repeats).
    std::uint64_t u = 1, v = 0;
    std::vector<std::uint64_t> most;  // most[t]: the most frequent t-tuple's count, 1 <= t < u
    std::vector<std::uint64_t> pairs; // pairs[w - u]: pairs of equal w-tuples, u <= w <= v
};

// Symbols < k. Tuples are counted at every start position (overlapping).
TupleCounts tuple_counts(Symbols s, unsigned k, std::uint64_t min_count);
// The same from the suffix array alone, which tuple_counts falls back on
// where repeats are long.
TupleCounts tuple_counts_from_suffix_array(Symbols s, unsigned k, std::uint64_t min_count);

} // namespace talvora::tools::sp800_90b
