// src/tools/sp800_90b/tuple_counts.cpp: tuple counts from the suffix tree.
//
// A suffix tree node at string depth h holding c suffixes is a tuple of
// every length up to h occurring c times, and each of its C(c, 2) pairs of
// suffixes starts equal tuples of every length in (parent depth, h]. The
// nodes come from the LCP values in rank order: by prefix sorting, or from
// the suffix array where repeats are long. Per-length counting would take
// hours on long repeats; this stays linear.
//
// Long repeats make u or v as long as the sequence: the suffix array path
// keeps 4 bytes per length below u and 8 per length from u to v.
#include "tools/sp800_90b/tuple_counts.h"

#include "tools/sp800_90b/lcp_intervals.h"
#include "tools/sp800_90b/prefix_sort.h"
#include "tools/sp800_90b/suffix_array.h"

#include <algorithm>
#include <vector>

namespace talvora::tools::sp800_90b {

namespace {

// u and v.
class Extent {
  public:
    explicit Extent(std::uint64_t min_count) : min_count_(min_count) {}
    void operator()(std::uint64_t h, std::uint64_t size, std::uint64_t) {
        v_ = std::max(v_, h);
        if (size >= min_count_) longest_frequent_ = std::max(longest_frequent_, h);
    }
    TupleLengths lengths(std::uint64_t n) const { return {n, longest_frequent_ + 1, v_}; }

  private:
    std::uint64_t min_count_;
    std::uint64_t v_ = 0, longest_frequent_ = 0;
};

// The counts kept per length: the largest node at each depth below
// most_end (and the largest beyond), and the pair counts for lengths from
// pair_begin to pair_end - 1 as differences along the lengths.
class Tally {
  public:
    Tally(std::uint64_t most_end, std::uint64_t pair_begin, std::uint64_t pair_end)
        : most_at_(most_end, 0), pair_begin_(pair_begin),
          pair_steps_(pair_end > pair_begin ? pair_end - pair_begin : 0, 0) {}

    void operator()(std::uint64_t h, std::uint64_t size, std::uint64_t parent) {
        if (h < most_at_.size())
            most_at_[h] = std::max<std::uint64_t>(most_at_[h], size);
        else
            beyond_ = std::max(beyond_, size);
        const std::uint64_t pair_end = pair_begin_ + pair_steps_.size();
        if (h < pair_begin_ || parent + 1 >= pair_end) return;
        const std::uint64_t c2 = size * (size - 1) / 2;
        pair_steps_[std::max(parent + 1, pair_begin_) - pair_begin_] += c2;
        if (h + 1 < pair_end) pair_steps_[h + 1 - pair_begin_] -= c2;
    }

    // Turns the tables into counts, in place, and hands them over.
    void visit(const TupleLengths& lengths, TupleVisitor& visitor) {
        // The most frequent t-tuple: the largest node at depth >= t.
        const std::uint64_t most_end = std::min<std::uint64_t>(most_at_.size(), lengths.u);
        std::uint64_t most = std::max<std::uint64_t>(beyond_, 1);
        for (std::uint64_t t = most_at_.size(); t-- > most_end;)
            most = std::max<std::uint64_t>(most, most_at_[t]);
        for (std::uint64_t t = most_end; t-- > 1;) {
            most = std::max<std::uint64_t>(most, most_at_[t]);
            most_at_[t] = static_cast<std::uint32_t>(most);
        }
        visitor.most(std::span<const std::uint32_t>(most_at_).subspan(1, most_end - 1));
        // Pair counts: the running sum of the differences.
        std::uint64_t pairs = 0;
        for (std::uint64_t& step : pair_steps_)
            step = pairs += step;
        if (lengths.v < lengths.u) {
            visitor.pairs({});
            return;
        }
        visitor.pairs(std::span<const std::uint64_t>(pair_steps_)
                          .subspan(lengths.u - pair_begin_, lengths.v + 1 - lengths.u));
    }

  private:
    std::vector<std::uint32_t> most_at_; // sizes are below 2^32
    std::uint64_t beyond_ = 0;
    std::uint64_t pair_begin_;
    std::vector<std::uint64_t> pair_steps_;
};

// Both in one walk, for prefix sorting (whose LCP values are short).
struct BothTallies {
    Extent& extent;
    Tally& tally;
    void operator()(std::uint64_t h, std::uint64_t size, std::uint64_t parent) {
        extent(h, size, parent);
        tally(h, size, parent);
    }
};

} // namespace

void count_tuples(Symbols s, unsigned k, std::uint64_t min_count, TupleVisitor& visitor) {
    {
        Extent extent(min_count);
        // Prefix sorting gives up before LCP values grow long; u is not
        // known yet, so everything is kept.
        const std::uint64_t longest = prefix_sort_max_lcp(k) + 2;
        Tally tally(longest, 0, longest);
        LcpIntervalWalker<BothTallies> walker(BothTallies{extent, tally});
        const bool sorted =
            stream_lcp_by_prefix_sort(s, k, [&](std::span<const std::uint64_t> lcps) {
                for (const std::uint64_t h : lcps)
                    walker.push(h);
            });
        if (sorted) {
            walker.finish();
            const TupleLengths lengths = extent.lengths(s.size());
            visitor.lengths(lengths);
            tally.visit(lengths, visitor);
            return;
        }
    }
    count_tuples_from_suffix_array(s, k, min_count, visitor);
}

void count_tuples_from_suffix_array(Symbols s, unsigned k, std::uint64_t min_count,
                                    TupleVisitor& visitor) {
    std::vector<std::uint32_t> lcp = suffix_array(s, k);
    suffix_array_to_lcp(s, lcp);
    // A first walk finds u and v, so that the second keeps most counts only
    // below u and pair counts only from u to v.
    Extent extent(min_count);
    for_each_lcp_interval(lcp, extent);
    const TupleLengths lengths = extent.lengths(s.size());
    visitor.lengths(lengths);
    Tally tally(lengths.u, lengths.u, lengths.v + 1);
    for_each_lcp_interval(lcp, tally);
    lcp = {};
    tally.visit(lengths, visitor);
}

} // namespace talvora::tools::sp800_90b
