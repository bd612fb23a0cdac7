// src/tools/sp800_90b/lcp_intervals.h: the internal nodes of a suffix tree,
// read off the LCP values of the suffixes in rank order: every maximal run
// of ranks whose suffixes share a prefix of some length h.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace talvora::tools::sp800_90b {

// Takes the LCP values one by one (each suffix's with the one ranked just
// before it; the first suffix's is ignored) and calls node(h, size,
// parent_h) for every interval of size >= 2 suffixes sharing a prefix of
// length h >= 1, where parent_h < h is the length the enclosing interval
// shares; children come before their parents.
template <class Node> class LcpIntervalWalker {
  public:
    explicit LcpIntervalWalker(Node node) : node_(std::forward<Node>(node)) {}

    void push(std::uint64_t h) {
        if (seen_++ == 0) return;
        close_above(h, seen_ - 1);
    }
    // Closes the intervals still open after the last suffix.
    void finish() { close_above(0, seen_); }

  private:
    struct Open {
        std::uint64_t h;
        std::uint64_t left; // rank of its first suffix
    };

    // The suffix at rank `rank` shares h with the one before it.
    void close_above(std::uint64_t h, std::uint64_t rank) {
        std::uint64_t left = rank - 1;
        while (h < open_.back().h) {
            const Open closed = open_.back();
            open_.pop_back();
            left = closed.left;
            node_(closed.h, rank - left, h > open_.back().h ? h : open_.back().h);
        }
        if (h > open_.back().h) open_.push_back({h, left});
    }

    Node node_;
    std::vector<Open> open_{{0, 0}};
    std::uint64_t seen_ = 0;
};

template <class Node> void for_each_lcp_interval(std::span<const std::uint32_t> lcp, Node&& node) {
    LcpIntervalWalker<Node&> walker(node);
    for (const std::uint32_t h : lcp)
        walker.push(h);
    walker.finish();
}

} // namespace talvora::tools::sp800_90b
