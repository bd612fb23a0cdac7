// src/tools/scan/window_counts.h: the byte counts of the current window and
// the exact sums a window's values come from.
#pragma once

#include "entropy/entropy.h"
#include "tools/stream/report.h"

#include <cstdint>

namespace talvora {
class WorkerPool;
}

namespace talvora::tools {

struct WindowCounts {
    std::uint64_t count[256];
    // sum of count^2, exact: at most length^2.
    unsigned __int128 sum_squares;
    // The largest count, when most_known. After a byte leaves a bin that
    // held it, another bin may hold the new largest: it is then found again.
    std::uint64_t most;
    bool most_known;

    // Counts bytes afresh (on pool when they are long and pool is given).
    void recount(ByteView bytes, WorkerPool* pool);
};

// chi_square_statistic(sum_squares, n) for a window of n >= 1 bytes. Below
// 2^28 bytes the exact numerator 256 * sum_squares - n^2 fits in 64 bits,
// and converting it to double rounds it as the wide form does.
inline double window_chi_square(unsigned __int128 sum_squares, std::uint64_t n) {
    if (n >= (std::uint64_t{1} << 28)) return chi_square_statistic(sum_squares, n);
    const std::uint64_t numerator = 256 * static_cast<std::uint64_t>(sum_squares) - n * n;
    return static_cast<double>(numerator) / static_cast<double>(n);
}

} // namespace talvora::tools
