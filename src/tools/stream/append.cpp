// src/tools/stream/append.cpp: joining two parts; the one place that knows
// about the seam between them (the serial pair across it, the 6-byte groups
// straddling it, and the bytes kept at either end).
#include "tools/stream/stream_part.h"

#include <algorithm>

namespace talvora::tools {
namespace {

std::size_t edge_len(const StreamPart& part) {
    return static_cast<std::size_t>(std::min<std::uint64_t>(part.n, EDGE_LEN));
}

void append_distinct(StreamPart& left, const StreamPart& right) {
    if (right.n == 0) return;
    if (left.n == 0) {
        left = right;
        return;
    }
    const std::size_t left_edge = edge_len(left);
    const std::size_t right_edge = edge_len(right);
    // The bytes around the seam: window[i] is the byte at stream offset
    // left.n - left_edge + i.
    std::array<std::uint8_t, 2 * EDGE_LEN> window{};
    std::copy_n(left.tail.begin(), left_edge, window.begin());
    std::copy_n(right.head.begin(), right_edge, window.begin() + left_edge);

    left.sum_xy += right.sum_xy + unsigned{window[left_edge - 1]} * window[left_edge];

    // The groups that start in left and end in right.
    const std::uint64_t window_start = left.n - left_edge;
    for (std::size_t s = 0; s < left_edge && s + GROUP_LEN <= left_edge + right_edge; ++s)
        if (point_inside(window.data() + s)) left.inside[(window_start + s) % GROUP_LEN]++;
    // Right's groups, its offset q at offset left.n + q of the whole.
    const std::uint64_t shift = left.n % GROUP_LEN;
    for (std::size_t r = 0; r < GROUP_LEN; ++r)
        left.inside[(r + shift) % GROUP_LEN] += right.inside[r];

    if (left_edge < EDGE_LEN)
        std::copy_n(right.head.begin(), std::min(right_edge, EDGE_LEN - left_edge),
                    left.head.begin() + left_edge);
    if (right_edge == EDGE_LEN) {
        left.tail = right.tail;
    } else {
        // Right is all in its head: the window ends with the joined bytes.
        const std::size_t joined_edge = std::min(left_edge + right_edge, EDGE_LEN);
        left.tail = {};
        std::copy_n(window.begin() + (left_edge + right_edge - joined_edge), joined_edge,
                    left.tail.begin());
    }

    left.counts += right.counts;
    left.n += right.n;
}

} // namespace

void append(StreamPart& left, const StreamPart& right) {
    if (&left == &right) {
        const StreamPart copy = right;
        append_distinct(left, copy);
    } else {
        append_distinct(left, right);
    }
}

} // namespace talvora::tools
