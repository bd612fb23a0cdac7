// src/entropy/parallel_histogram.cpp: counting long inputs in 64 KiB chunks
// on the worker pool. Integer counts add up the same whatever the split, so
// the result equals the sequential histogram bit for bit.
#include "entropy/parallel_histogram.h"

#include "pool/pool.h"

#include <algorithm>

namespace talvora {

ChunkRange::ChunkRange(ByteView bytes, std::size_t chunk_len) noexcept
    : bytes_(bytes), chunk_len_(chunk_len) {
    if (chunk_len == 0) fatal_failure("chunk size must be non-zero");
}

std::size_t ChunkRange::chunk_count() const noexcept {
    return bytes_.size() / chunk_len_ + (bytes_.size() % chunk_len_ != 0);
}

ChunkRange::Halves ChunkRange::split_at(std::size_t mid) const noexcept {
    const std::size_t left_len =
        mid <= bytes_.size() / chunk_len_ ? mid * chunk_len_ : bytes_.size();
    return {ChunkRange(bytes_.first(left_len), chunk_len_),
            ChunkRange(bytes_.subspan(left_len), chunk_len_)};
}

bool SplitBudget::try_split(std::size_t chunk_count, bool migrated,
                            std::size_t worker_count) noexcept {
    if (chunk_count / 2 < MIN_CHUNKS) return false;
    if (migrated) {
        splits_ = std::max(worker_count, splits_ / 2);
        return true;
    }
    if (splits_ == 0) return false;
    splits_ /= 2;
    return true;
}

namespace {

ByteHistogram count_range(WorkerPool& pool, ChunkRange range, bool migrated, SplitBudget budget) {
    const std::size_t chunks = range.chunk_count();
    if (!budget.try_split(chunks, migrated, pool.worker_count()))
        return count_bytes_sequential(range.bytes());
    const ChunkRange::Halves halves = range.split_at(chunks / 2);
    auto histograms = pool.join([&](bool m) { return count_range(pool, halves.left, m, budget); },
                                [&](bool m) { return count_range(pool, halves.right, m, budget); });
    histograms.first += histograms.second;
    return histograms.first;
}

} // namespace

ByteHistogram count_bytes_parallel(ByteView bytes, WorkerPool& pool) {
    // From a thread outside the pool the top-level join is handed in as one
    // job; the caller blocks (holding whatever it holds) until it is done.
    return count_range(pool, ChunkRange(bytes, CHUNK_LEN), false, SplitBudget(pool.worker_count()));
}

ByteHistogram count_bytes_parallel(ByteView bytes) {
    return count_bytes_parallel(bytes, current_pool());
}

} // namespace talvora
