// src/tools/sp800_90b/tuple_counts.h: counts of repeated tuples of every
// length at once: how often the most frequent tuple of each length occurs,
// and how many pairs of positions start equal tuples.
#pragma once

#include "tools/sp800_90b/samples.h"

#include <cstdint>
#include <span>

namespace talvora::tools::sp800_90b {

struct TupleLengths {
    std::uint64_t n = 0;
    // The shortest length at which no tuple occurs min_count times (1 when
    // no symbol does), and the longest length of a tuple occurring twice
    // (overlaps allowed; 0 when no symbol repeats).
    std::uint64_t u = 1, v = 0;
};

// Receives the counts for every length, non-increasing in the length.
class TupleVisitor {
  public:
    virtual ~TupleVisitor() = default;
    virtual void lengths(const TupleLengths& lengths) = 0; // first
    // counts[t - 1]: how often the most frequent t-tuple occurs, 1 <= t < u.
    virtual void most(std::span<const std::uint32_t> counts) = 0;
    // counts[w - u]: the pairs of positions starting equal w-tuples,
    // u <= w <= v.
    virtual void pairs(std::span<const std::uint64_t> counts) = 0;
};

// Symbols < k. Tuples are counted at every start position (overlapping).
void count_tuples(Symbols s, unsigned k, std::uint64_t min_count, TupleVisitor& visitor);
// The same from the suffix array alone, which count_tuples falls back on
// where repeats are long.
void count_tuples_from_suffix_array(Symbols s, unsigned k, std::uint64_t min_count,
                                    TupleVisitor& visitor);

} // namespace talvora::tools::sp800_90b
