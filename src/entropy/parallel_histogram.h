// src/entropy/parallel_histogram.h: the pieces of the parallel counter, and
// counting on a given pool (the measures use the process-wide one).
#pragma once

#include "entropy/entropy.h"

#include <cstddef>

namespace talvora {

class WorkerPool;

// A run of whole chunks of the input: only the last may be short.
class ChunkRange {
  public:
    // Fatal when chunk_len is 0.
    ChunkRange(ByteView bytes, std::size_t chunk_len) noexcept;

    ByteView bytes() const noexcept { return bytes_; }
    std::size_t chunk_count() const noexcept;

    struct Halves;
    // The first mid chunks and the rest.
    Halves split_at(std::size_t mid) const noexcept;

  private:
    ByteView bytes_;
    std::size_t chunk_len_;
};

struct ChunkRange::Halves {
    ChunkRange left, right;
};

// How many more times a task may split its range; carried by value.
class SplitBudget {
  public:
    explicit SplitBudget(std::size_t splits) noexcept : splits_(splits) {}

    // Whether a range of chunk_count chunks is split, updating the budget.
    // A stolen (migrated) task gets at least worker_count splits again, so
    // the work spreads further where thieves are hungry.
    bool try_split(std::size_t chunk_count, bool migrated, std::size_t worker_count) noexcept;

  private:
    static constexpr std::size_t MIN_CHUNKS = 1;
    std::size_t splits_;
};

// count_bytes_parallel on pool; bytes.size() >= PARALLEL_MIN_LEN.
ByteHistogram count_bytes_parallel(ByteView bytes, WorkerPool& pool);

} // namespace talvora
