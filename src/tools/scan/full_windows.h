// src/tools/scan/full_windows.h: the kernel over a run of full windows, one
// build per instruction set, and the lane matrix it sums.
#pragma once

#include "tools/scan/scan.h"
#include "tools/scan/window_terms.h"

#include <cstddef>
#include <cstdint>

namespace talvora::tools {

// Windows summed at once, one per lane: the Shannon sum of one window is a
// chain of 256 dependent subtractions; sixteen chains side by side keep the
// adder busy (two AVX-512 vectors, four AVX2 vectors).
inline constexpr std::size_t LANES = 16;

// row[b][l]: the Shannon term of byte value b in the window of lane l.
struct alignas(64) LaneRows {
    double row[256][LANES];
};

// The largest of four running maxima, which the kernels keep so that their
// comparisons do not wait on each other.
inline std::uint64_t largest_of_four(const std::uint64_t (&most)[4]) {
    const std::uint64_t low = most[0] > most[1] ? most[0] : most[1];
    const std::uint64_t high = most[2] > most[3] ? most[2] : most[3];
    return low > high ? low : high;
}

// A run of full windows, all of whose bytes are in memory: window i covers
// [first + i * step, first + i * step + window).
struct FullWindowRun {
    const std::uint8_t* first;
    std::uint64_t count;
    ScanShape shape;
    const WindowTerms* terms; // for windows of shape.window bytes
    WorkerPool* pool;         // counts a long window
    LaneRows* rows;           // the run's scratch
    // count entries each.
    double* shannon;
    double* min_entropy;
    double* chi_square;
};

// A run slides when step < window / SLIDE_RATIO: moving a byte out and one
// in costs about as much as counting seven bytes afresh (measured with
// window 4096: sliding by 512 still wins a little, by 1024 it loses).
inline constexpr std::uint64_t SLIDE_RATIO = 6;

// Whether a run moves its counts from window to window (by the bytes that
// leave and enter) rather than counting each window afresh.
bool run_slides(ScanShape shape) noexcept;

void run_full_windows_scalar(const FullWindowRun& run);
// Built on x86-64 only.
void run_full_windows_avx2(const FullWindowRun& run);
void run_full_windows_avx512(const FullWindowRun& run);
void run_full_windows(const FullWindowRun& run, LanePath path);

// The Shannon, min-entropy and chi-square columns of a scan.
struct WindowValues {
    double* shannon;
    double* min_entropy;
    double* chi_square;
};

// Scans count full windows, the first at first, on pool: the windows are cut
// into contiguous blocks, each of which counts its first window afresh.
void scan_full_windows(const std::uint8_t* first, std::uint64_t count, ScanShape shape,
                       const WindowTerms& terms, const WindowValues& out, WorkerPool& pool,
                       const ScanOptions& options);

// The values of one window of any length, counted afresh: the last, short
// window of a scan.
void scan_one_window(ByteView bytes, const WindowValues& out, WorkerPool& pool);

} // namespace talvora::tools
