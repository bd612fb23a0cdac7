// src/tools/stream/kernel_scalar.cpp: the portable kernel: talvora's byte
// counter, then one loop for the pairs and the group tests.
#include "tools/stream/kernel.h"

#include <algorithm>

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
    const std::size_t n = bytes.size();
    if (from >= n) return;
    const std::uint8_t* const p = bytes.data();
    part.counts += count_bytes_sequential(bytes.subspan(from));

    // A product is below 2^16, so 2^48 of them fit a 64-bit partial sum.
    constexpr std::size_t PAIRS_PER_SUM = std::size_t{1} << 48;
    for (std::size_t start = from; start + 1 < n; start += PAIRS_PER_SUM) {
        const std::size_t end = std::min(n - 1, start + PAIRS_PER_SUM);
        std::uint64_t sum = 0;
        for (std::size_t i = start; i < end; ++i)
            sum += unsigned{p[i]} * p[i + 1];
        part.sum_xy += sum;
    }

    if (n - from < GROUP_LEN) return;
    // The group at i has x^2 = square_at(i) and y^2 = square_at(i + 3):
    // each square serves two groups.
    std::uint64_t x_0 = square_at(p + from), x_1 = square_at(p + from + 1),
                  x_2 = square_at(p + from + 2);
    // Counted here, not in part, which the compiler must assume the bytes
    // may overlap.
    std::array<std::uint64_t, GROUP_LEN> inside{};
    std::size_t alignment = from % GROUP_LEN;
    for (std::size_t i = from; i + GROUP_LEN <= n; ++i) {
        const std::uint64_t x_3 = square_at(p + i + 3);
        inside[alignment] += x_0 + x_3 <= RADIUS * RADIUS;
        x_0 = x_1;
        x_1 = x_2;
        x_2 = x_3;
        alignment = alignment + 1 == GROUP_LEN ? 0 : alignment + 1;
    }
    for (std::size_t r = 0; r < GROUP_LEN; ++r)
        part.inside[r] += inside[r];
}

const Kernel SCALAR_KERNEL = {"scalar", [] { return true; }, add_sums_scalar};

} // namespace talvora::tools
