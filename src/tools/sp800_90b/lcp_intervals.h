// src/tools/sp800_90b/lcp_intervals.h: the internal nodes of a suffix tree,
// read off an LCP array: every maximal run of ranks whose suffixes share a
// prefix of some length h.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace talvora::tools::sp800_90b {

// Calls node(h, size, parent_h) for every interval of size >= 2 suffixes
// sharing a prefix of length h >= 1, where parent_h < h is the length shared
// by the enclosing interval; children come before their parents.
template <class Node> void for_each_lcp_interval(std::span<const std::uint32_t> lcp, Node&& node) {
    struct Open {
        std::uint32_t h;
        std::size_t left;
    };
    std::vector<Open> stack{{0, 0}};
    const std::size_t n = lcp.size();
    for (std::size_t i = 1; i <= n; ++i) {
        const std::uint32_t h = i < n ? lcp[i] : 0;
        std::size_t left = i - 1;
        while (h < stack.back().h) {
            const Open closed = stack.back();
            stack.pop_back();
            left = closed.left;
            node(closed.h, i - left, h > stack.back().h ? h : stack.back().h);
        }
        if (h > stack.back().h) stack.push_back({h, left});
    }
}

} // namespace talvora::tools::sp800_90b
