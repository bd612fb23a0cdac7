// src/tools/scan/scan.h: windowed scans: per window of a run of bytes, its
// Shannon entropy, min-entropy and chi-square, each bit for bit what the
// one-shot measure gives for that window's bytes.
//
// Windows start at 0, step, 2 * step, ...; each covers
// [start, min(start + window, end)). The scan stops after the first window
// that reaches the end, or at the first start at or past it: every window but
// the last is full, none is empty, and no bytes give no windows.
#pragma once

#include "entropy/entropy.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace talvora {
class WorkerPool;
}

namespace talvora::tools {

struct ScanShape {
    std::uint64_t window; // bytes of a full window, at least 1
    std::uint64_t step;   // from one window's start to the next, at least 1
};

// The instruction sets the per-window sums can run on. Every path adds the
// same terms in the same order, so they give the same bits.
enum class LanePath { Scalar, Avx2, Avx512 };

bool lane_path_supported(LanePath path) noexcept;
// The widest path this machine runs.
LanePath best_lane_path() noexcept;

struct ScanOptions {
    LanePath path = best_lane_path();
    // Windows per block of work on the pool; 0 lets the scan choose. Any
    // value gives the same results.
    std::uint64_t block_windows = 0;
};

// Where a scan writes: caller-owned arrays, one entry per window.
struct ScanOutput {
    std::uint64_t* offsets;
    std::uint64_t* lengths;
    double* shannon;
    double* min_entropy;
    double* chi_square;

    // The same arrays from entry `first` on.
    ScanOutput from(std::size_t first) const noexcept {
        return {offsets + first, lengths + first, shannon + first, min_entropy + first,
                chi_square + first};
    }
};

// The per-window columns of a scan, grown as windows are found.
struct ScanColumns {
    std::vector<std::uint64_t> offsets;
    std::vector<std::uint64_t> lengths;
    std::vector<double> shannon;
    std::vector<double> min_entropy;
    std::vector<double> chi_square;

    std::size_t size() const noexcept { return offsets.size(); }
    // Grows every column by `more` entries and returns where they start.
    ScanOutput extend(std::size_t more);
    // Appends other's windows after these.
    void append(const ScanColumns& other);
};

// Throws std::invalid_argument unless window and step are at least 1.
void check_shape(ScanShape shape);

// Throws std::invalid_argument for a lane path this machine does not run.
void check_options(const ScanOptions& options);

// The number of windows of a scan of n bytes.
std::uint64_t window_count(std::uint64_t n, ScanShape shape);

// Scans bytes, all in memory, on pool: out receives window_count entries;
// offsets are origin plus the window's start in bytes.
void scan_into(ByteView bytes, ScanShape shape, std::uint64_t origin, const ScanOutput& out,
               WorkerPool& pool, const ScanOptions& options = {});
ScanColumns scan(ByteView bytes, ScanShape shape, WorkerPool& pool,
                 const ScanOptions& options = {});

} // namespace talvora::tools
