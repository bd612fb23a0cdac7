// src/tools/sp800_90b/tuple_counts.cpp: tuple counts from the suffix tree.
//
// A suffix tree node at string depth h holding c suffixes is a tuple of
// every length up to h occurring c times, and each of its C(c, 2) pairs of
// suffixes starts equal tuples of every length in (parent depth, h]. The
// nodes come from the LCP values in rank order: by prefix sorting, or from
// the suffix array where repeats are long. Per-length counting would take
// hours on long repeats; this stays linear.
#include "tools/sp800_90b/tuple_counts.h"

#include "tools/sp800_90b/lcp_intervals.h"
#include "tools/sp800_90b/prefix_sort.h"
#include "tools/sp800_90b/suffix_array.h"

#include <algorithm>
#include <limits>

namespace talvora::tools::sp800_90b {

namespace {

// Collects the nodes; pair counts only for lengths >= first_pair_length,
// as differences along the lengths.
class TupleTally {
  public:
    TupleTally(std::uint64_t min_count, std::uint64_t first_pair_length)
        : min_count_(min_count), first_pair_length_(first_pair_length) {}

    void operator()(std::uint64_t h, std::uint64_t size, std::uint64_t parent) {
        v_ = std::max(v_, h);
        // Only frequent nodes matter for lengths below u.
        if (size >= min_count_) {
            if (most_at_.size() <= h) most_at_.resize(h + 1, 0);
            most_at_[h] = std::max(most_at_[h], size);
        }
        const std::uint64_t lo = std::max(parent + 1, first_pair_length_);
        if (lo > h) return;
        if (pair_steps_.size() < h + 2 - first_pair_length_)
            pair_steps_.resize(h + 2 - first_pair_length_, 0);
        const std::uint64_t c2 = size * (size - 1) / 2;
        pair_steps_[lo - first_pair_length_] += c2;
        pair_steps_[h + 1 - first_pair_length_] -= c2;
    }

    std::uint64_t u() const { return most_at_.empty() ? 1 : most_at_.size(); }

    // Requires first_pair_length <= u() or no pairs wanted.
    TupleCounts finish(std::uint64_t n) const {
        TupleCounts counts{.n = n, .u = u(), .v = v_, .most = {}, .pairs = {}};
        counts.most.assign(counts.u, 0);
        std::uint64_t most = 1;
        for (std::uint64_t t = counts.u; t-- > 1;) {
            most = std::max(most, most_at_[t]);
            counts.most[t] = most;
        }
        if (counts.v >= counts.u) {
            std::uint64_t pairs = 0;
            for (std::uint64_t w = first_pair_length_; w <= counts.v; ++w) {
                pairs += pair_steps_[w - first_pair_length_];
                if (w >= counts.u) counts.pairs.push_back(pairs);
            }
        }
        return counts;
    }

  private:
    std::uint64_t min_count_;
    std::uint64_t first_pair_length_;
    std::uint64_t v_ = 0;
    std::vector<std::uint64_t> most_at_;    // largest frequent node at each depth
    std::vector<std::uint64_t> pair_steps_; // from first_pair_length_ on
};

} // namespace

TupleCounts tuple_counts(Symbols s, unsigned k, std::uint64_t min_count) {
    {
        TupleTally tally(min_count, 1);
        LcpIntervalWalker<TupleTally&> walker(tally);
        const bool sorted =
            stream_lcp_by_prefix_sort(s, k, [&](std::span<const std::uint64_t> lcps) {
                for (const std::uint64_t h : lcps)
                    walker.push(h);
            });
        if (sorted) {
            walker.finish();
            return tally.finish(s.size());
        }
    }
    return tuple_counts_from_suffix_array(s, k, min_count);
}

// Two passes over the LCP array, so that pair counts are kept only from u
// on: long repeats can make v - u small while v is huge.
TupleCounts tuple_counts_from_suffix_array(Symbols s, unsigned k, std::uint64_t min_count) {
    std::vector<std::uint32_t> lcp = suffix_array(s, k);
    suffix_array_to_lcp(s, lcp);
    TupleTally first(min_count, std::numeric_limits<std::uint64_t>::max());
    for_each_lcp_interval(lcp, first);
    TupleTally second(min_count, first.u());
    for_each_lcp_interval(lcp, second);
    return second.finish(s.size());
}

} // namespace talvora::tools::sp800_90b
