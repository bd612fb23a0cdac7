// src/tools/scan/window_counts.cpp: counting a window afresh.
#include "tools/scan/window_counts.h"

#include "entropy/parallel_histogram.h"

#include <algorithm>

namespace talvora::tools {

void WindowCounts::recount(ByteView bytes, WorkerPool* pool) {
    const ByteHistogram histogram = pool != nullptr && bytes.size() >= PARALLEL_MIN_LEN
                                        ? count_bytes_parallel(bytes, *pool)
                                        : count_bytes_sequential(bytes);
    std::copy(histogram.counts.begin(), histogram.counts.end(), count);
    if (bytes.size() < (std::uint64_t{1} << 32)) {
        // Then the sum stays below 2^64, and a 64-bit sum vectorises.
        std::uint64_t squares = 0;
        for (const std::uint64_t c : count)
            squares += c * c;
        sum_squares = squares;
    } else {
        sum_squares = 0;
        for (const std::uint64_t c : count)
            sum_squares += static_cast<unsigned __int128>(c) * c;
    }
    most_known = false;
}

} // namespace talvora::tools
