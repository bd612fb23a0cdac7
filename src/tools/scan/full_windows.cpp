// src/tools/scan/full_windows.cpp: spreading a run of full windows over the
// worker pool in contiguous blocks, and the one-shot values of a single
// window. Every value is exact, so the results do not depend on the blocks.
#include "tools/scan/full_windows.h"

#include "entropy/parallel_histogram.h"
#include "pool/pool.h"
#include "tools/stream/report.h"

#include <algorithm>
#include <memory>

namespace talvora::tools {

bool run_slides(ScanShape shape) noexcept {
    return shape.step < shape.window / SLIDE_RATIO;
}

namespace {

// A block should do this much work (in bytes counted or moved) at least, so
// that handing it to a worker and counting its first window stay small.
constexpr std::uint64_t MIN_BLOCK_WORK = std::uint64_t{1} << 20;
// Blocks per worker: enough for the pool to even out unequal speeds.
constexpr std::uint64_t BLOCKS_PER_WORKER = 4;

std::uint64_t chosen_block_windows(std::uint64_t count, ScanShape shape, std::size_t workers) {
    // What a window costs beyond its block's first: the bytes it moves, or
    // counts; 256 stands for the per-window sums.
    const bool slides = run_slides(shape);
    // Full windows lie in memory, far below this many bytes.
    constexpr std::uint64_t LARGEST = std::uint64_t{1} << 48;
    const std::uint64_t window = std::min(shape.window, LARGEST);
    const std::uint64_t per_window = (slides ? 2 * shape.step : window) + 256;
    std::uint64_t least = std::max<std::uint64_t>(1, MIN_BLOCK_WORK / per_window);
    // A sliding block's first window is counted afresh: keep that a small
    // share of the block.
    if (slides) least = std::max(least, 8 * window / per_window);
    const std::uint64_t blocks =
        std::clamp<std::uint64_t>(count / least, 1, BLOCKS_PER_WORKER * workers);
    return (count + blocks - 1) / blocks;
}

struct Blocks {
    const std::uint8_t* first;
    std::uint64_t count;
    std::uint64_t per_block;
    ScanShape shape;
    const WindowTerms* terms;
    WindowValues out;
    WorkerPool* pool;
    LanePath path;
    LaneRows* scratch; // one per block

    void run_block(std::uint64_t block) const {
        const std::uint64_t start = block * per_block;
        const FullWindowRun run{first + start * shape.step,
                                std::min(per_block, count - start),
                                shape,
                                terms,
                                pool,
                                &scratch[block],
                                out.shannon + start,
                                out.min_entropy + start,
                                out.chi_square + start};
        run_full_windows(run, path);
    }

    // Blocks [begin, end), halves in parallel.
    bool run_blocks(std::uint64_t begin, std::uint64_t end) const {
        if (end - begin == 1) {
            run_block(begin);
            return true;
        }
        const std::uint64_t mid = begin + (end - begin) / 2;
        pool->join([&](bool) { return run_blocks(begin, mid); },
                   [&](bool) { return run_blocks(mid, end); });
        return true;
    }
};

} // namespace

void scan_full_windows(const std::uint8_t* first, std::uint64_t count, ScanShape shape,
                       const WindowTerms& terms, const WindowValues& out, WorkerPool& pool,
                       const ScanOptions& options) {
    if (count == 0) return;
    const std::uint64_t per_block = options.block_windows != 0
                                        ? options.block_windows
                                        : chosen_block_windows(count, shape, pool.worker_count());
    const std::uint64_t blocks = (count + per_block - 1) / per_block;
    // Allocated here, where running out of memory can still be reported.
    const auto scratch = std::make_unique<LaneRows[]>(blocks);
    const Blocks work{first, count, per_block,    shape,        &terms,
                      out,   &pool, options.path, scratch.get()};
    if (blocks == 1)
        work.run_block(0);
    else
        work.run_blocks(0, blocks);
}

void scan_one_window(ByteView bytes, const WindowValues& out, WorkerPool& pool) {
    const ByteHistogram histogram = bytes.size() >= PARALLEL_MIN_LEN
                                        ? count_bytes_parallel(bytes, pool)
                                        : count_bytes_sequential(bytes);
    *out.shannon = histogram_entropy(histogram, bytes.size());
    *out.min_entropy = histogram_min_entropy(histogram, bytes.size());
    *out.chi_square = chi_square_statistic(sum_of_squares(histogram), bytes.size());
}

} // namespace talvora::tools
