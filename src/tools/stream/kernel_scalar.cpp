// src/tools/stream/kernel_scalar.cpp: the portable kernel, three plain loops
// over the bytes; the counting is talvora's own.
#include "tools/stream/kernel.h"

namespace talvora::tools {

bool point_inside(const std::uint8_t* group) {
    const std::uint64_t x = (std::uint64_t{group[0]} << 16) | (group[1] << 8) | group[2];
    const std::uint64_t y = (std::uint64_t{group[3]} << 16) | (group[4] << 8) | group[5];
    constexpr std::uint64_t radius = (std::uint64_t{1} << 24) - 1;
    return x * x + y * y <= radius * radius;
}

void add_sums_scalar(ByteView bytes, StreamPart& part) {
    part.counts += count_bytes_sequential(bytes);
    const std::uint8_t* const p = bytes.data();
    const std::size_t n = bytes.size();
    for (std::size_t i = 1; i < n; ++i)
        part.sum_xy += unsigned{p[i - 1]} * p[i];
    std::size_t alignment = 0;
    for (std::size_t i = 0; i + GROUP_LEN <= n; ++i) {
        part.inside[alignment] += point_inside(p + i);
        alignment = alignment + 1 == GROUP_LEN ? 0 : alignment + 1;
    }
}

} // namespace talvora::tools
