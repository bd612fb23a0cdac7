// src/tools/scan/profile.h: what an analyst reads off a scan: where the
// metric entropy (Shannon / 8) rises and falls, and the byte ranges where it
// stays high.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace talvora::tools {

struct EdgeAt {
    std::size_t window; // index into the scan's windows
    bool rising;
};

// With hysteresis: starting low, the first window whose metric entropy is at
// or above rising is a rising edge and the state turns high; while high, the
// first window at or below falling is a falling edge and the state turns low.
std::vector<EdgeAt> find_edges(std::span<const double> shannon, double rising, double falling);

struct ByteRange {
    std::uint64_t start;
    std::uint64_t end; // one past the last byte

    friend bool operator==(const ByteRange&, const ByteRange&) = default;
};

// The union of the windows whose metric entropy is at or above threshold,
// as sorted, disjoint ranges (those that overlap or touch are merged),
// without those shorter than min_length. Windows come in scan order.
std::vector<ByteRange> find_regions(std::span<const std::uint64_t> offsets,
                                    std::span<const std::uint64_t> lengths,
                                    std::span<const double> shannon, double threshold,
                                    std::uint64_t min_length);

// The metric entropy of a window from its Shannon entropy, as talvora's
// metric measure gives it for a non-empty input.
inline double metric_of(double shannon) {
    return shannon * 0.125;
}

} // namespace talvora::tools
