// tests/cpp/tools/stream_oracle.h: the part of a run of bytes worked out the
// slow and obvious way, straight from the bytes, for the tests to compare
// the kernels, append and the reports against.
#pragma once

#include "tools/stream/report.h"
#include "tools/stream/stream_part.h"

#include <bit>
#include <cstdint>
#include <random>
#include <vector>

namespace talvora::tools::testing {

using Bytes = std::vector<std::uint8_t>;

// x and y of the group at p, and the test on them, in long double: a
// different road to the same exact answer (x^2 + y^2 < 2^64).
inline bool oracle_inside(const Bytes& b, std::size_t p) {
    const long double x = b[p] * 65536.0L + b[p + 1] * 256.0L + b[p + 2];
    const long double y = b[p + 3] * 65536.0L + b[p + 4] * 256.0L + b[p + 5];
    const long double radius = 16777215.0L;
    return x * x + y * y <= radius * radius;
}

inline StreamPart oracle_part(const Bytes& b) {
    StreamPart part;
    part.n = b.size();
    for (std::size_t i = 0; i < b.size(); ++i) {
        part.counts.counts[b[i]]++;
        if (i + 1 < b.size()) part.sum_xy += b[i] * b[i + 1];
        if (i + 6 <= b.size()) part.inside[i % 6] += oracle_inside(b, i);
        if (i < 5) part.head[i] = b[i];
    }
    const std::size_t edge = std::min<std::size_t>(b.size(), 5);
    for (std::size_t i = 0; i < edge; ++i)
        part.tail[i] = b[b.size() - edge + i];
    return part;
}

inline Bytes random_bytes(std::size_t n, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    Bytes b(n);
    for (auto& byte : b)
        byte = static_cast<std::uint8_t>(rng() >> 56);
    return b;
}

inline void append_bytes(Bytes& out, std::uint32_t value, int len) {
    for (int shift = 8 * (len - 1); shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// Groups whose points lie on the circle or just beside it, in random
// order and at random offsets: x = 3R/5, y = 4R/5 is on it exactly.
inline Bytes circle_edge_bytes(std::size_t groups, std::uint64_t seed) {
    constexpr std::uint32_t R = (1u << 24) - 1;
    const std::uint32_t on[][2] = {{R / 5 * 3, R / 5 * 4}, {R / 5 * 4, R / 5 * 3}, {R, 0}, {0, R}};
    std::mt19937_64 rng(seed);
    Bytes out;
    for (std::size_t g = 0; g < groups; ++g) {
        const auto& point = on[rng() % 4];
        const int nudge = static_cast<int>(rng() % 3) - 1;
        append_bytes(out, point[0], 3);
        append_bytes(out, point[1] == 0 ? 0 : point[1] + nudge, 3);
        if (rng() % 4 == 0) out.push_back(static_cast<std::uint8_t>(rng())); // misalign
    }
    return out;
}

inline std::uint64_t bits(double d) {
    return std::bit_cast<std::uint64_t>(d);
}

// Field for field, bit for bit (NaN equal to NaN, -0.0 not to +0.0).
inline bool same_report(const Report& a, const Report& b) {
    return a.n == b.n && a.distinct == b.distinct && a.mode == b.mode &&
           bits(a.shannon) == bits(b.shannon) && bits(a.metric) == bits(b.metric) &&
           bits(a.normalized) == bits(b.normalized) && bits(a.min_entropy) == bits(b.min_entropy) &&
           bits(a.mcv_p_upper) == bits(b.mcv_p_upper) &&
           bits(a.mcv_min_entropy) == bits(b.mcv_min_entropy) &&
           bits(a.chi_square) == bits(b.chi_square) && bits(a.p_value) == bits(b.p_value) &&
           bits(a.mean) == bits(b.mean) && bits(a.monte_carlo_pi) == bits(b.monte_carlo_pi) &&
           bits(a.monte_carlo_pi_error) == bits(b.monte_carlo_pi_error) &&
           bits(a.serial_correlation) == bits(b.serial_correlation);
}

} // namespace talvora::tools::testing
