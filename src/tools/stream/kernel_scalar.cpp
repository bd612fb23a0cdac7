// src/tools/stream/kernel_scalar.cpp: the portable kernel: talvora's byte
// counter, then one loop for the pairs and the group tests.
#include "tools/stream/kernel.h"

namespace talvora::tools {
namespace {

constexpr std::uint64_t RADIUS = (std::uint64_t{1} << 24) - 1;

std::uint64_t square_at(const std::uint8_t* p) {
    const std::uint64_t x = (std::uint64_t{p[0]} << 16) | (p[1] << 8) | p[2];
    return x * x;
}

void add_sums_scalar(ByteView bytes, StreamPart& part) {
    add_sums_from(bytes, 0, part);
}

} // namespace

bool point_inside(const std::uint8_t* group) {
    return square_at(group) + square_at(group + 3) <= RADIUS * RADIUS;
}

void add_sums_from(ByteView bytes, std::size_t from, StreamPart& part) {
    if (from >= bytes.size()) return;
    part.counts += count_bytes_sequential(bytes.subspan(from));
    const std::uint8_t* const p = bytes.data();
    const std::size_t n = bytes.size();
    for (std::size_t i = from; i + 1 < n; ++i)
        part.sum_xy += unsigned{p[i]} * p[i + 1];
    std::size_t alignment = from % GROUP_LEN;
    for (std::size_t i = from; i + GROUP_LEN <= n; ++i) {
        part.inside[alignment] += point_inside(p + i);
        alignment = alignment + 1 == GROUP_LEN ? 0 : alignment + 1;
    }
}

const Kernel SCALAR_KERNEL = {"scalar", [] { return true; }, add_sums_scalar};

} // namespace talvora::tools
