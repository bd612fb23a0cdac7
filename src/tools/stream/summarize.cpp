// src/tools/stream/summarize.cpp: a part from bytes, on the calling thread
// or in chunks on the worker pool.
#include "tools/stream/kernel.h"

#include "entropy/parallel_histogram.h"
#include "pool/pool.h"

#include <algorithm>

namespace talvora::tools {
namespace {

// The portable kernel first, then the others from the slowest: the last
// one this machine supports is used.
const Kernel* const KERNELS[] = {
    &SCALAR_KERNEL,
#ifdef TALVORA_X86_KERNELS
    &AVX2_KERNEL,
    &AVX512_KERNEL,
#endif
};

StreamPart summarize_range(WorkerPool& pool, ChunkRange range, bool migrated, SplitBudget budget) {
    const std::size_t chunks = range.chunk_count();
    if (!budget.try_split(chunks, migrated, pool.worker_count())) return summarize(range.bytes());
    const ChunkRange::Halves halves = range.split_at(chunks / 2);
    auto parts = pool.join([&](bool m) { return summarize_range(pool, halves.left, m, budget); },
                           [&](bool m) { return summarize_range(pool, halves.right, m, budget); });
    append(parts.first, parts.second);
    return parts.first;
}

} // namespace

std::span<const Kernel* const> all_kernels() {
    return KERNELS;
}

const Kernel& best_kernel() {
    static const Kernel& chosen = []() -> const Kernel& {
        for (std::size_t i = std::size(KERNELS); i-- > 0;)
            if (KERNELS[i]->supported()) return *KERNELS[i];
        return SCALAR_KERNEL;
    }();
    return chosen;
}

StreamPart summarize_with(const Kernel& kernel, ByteView bytes) {
    StreamPart part;
    part.n = bytes.size();
    kernel.add_sums(bytes, part);
    const std::size_t edge = std::min(bytes.size(), EDGE_LEN);
    std::copy_n(bytes.begin(), edge, part.head.begin());
    std::copy_n(bytes.end() - static_cast<std::ptrdiff_t>(edge), edge, part.tail.begin());
    return part;
}

StreamPart summarize(ByteView bytes) {
    return summarize_with(best_kernel(), bytes);
}

StreamPart summarize_parallel(ByteView bytes, WorkerPool& pool) {
    // Short inputs are done before the pool would have woken up.
    if (bytes.size() < PARALLEL_MIN_LEN) return summarize(bytes);
    return summarize_range(pool, ChunkRange(bytes, CHUNK_LEN), false,
                           SplitBudget(pool.worker_count()));
}

} // namespace talvora::tools
