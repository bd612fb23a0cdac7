// src/tools/scan/profile.cpp: edges and regions of a scan.
#include "tools/scan/profile.h"

#include <algorithm>

namespace talvora::tools {

std::vector<EdgeAt> find_edges(std::span<const double> shannon, double rising, double falling) {
    std::vector<EdgeAt> edges;
    bool high = false;
    for (std::size_t i = 0; i < shannon.size(); ++i) {
        const double metric = metric_of(shannon[i]);
        if (high ? metric <= falling : metric >= rising) {
            high = !high;
            edges.push_back({i, high});
        }
    }
    return edges;
}

std::vector<ByteRange> find_regions(std::span<const std::uint64_t> offsets,
                                    std::span<const std::uint64_t> lengths,
                                    std::span<const double> shannon, double threshold,
                                    std::uint64_t min_length) {
    std::vector<ByteRange> regions;
    const auto close = [&](const ByteRange& range) {
        if (range.end - range.start >= min_length) regions.push_back(range);
    };
    bool open = false;
    ByteRange current{};
    for (std::size_t i = 0; i < shannon.size(); ++i) {
        if (!(metric_of(shannon[i]) >= threshold)) continue;
        const ByteRange window{offsets[i], offsets[i] + lengths[i]};
        if (open && window.start <= current.end) {
            current.end = std::max(current.end, window.end);
            continue;
        }
        if (open) close(current);
        current = window;
        open = true;
    }
    if (open) close(current);
    return regions;
}

} // namespace talvora::tools
