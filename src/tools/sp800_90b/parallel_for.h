// src/tools/sp800_90b/parallel_for.h: runs independent items on the worker
// pool, each with the scratch space of the worker that runs it.
#pragma once

#include "pool/pool.h"

#include <cstddef>

namespace talvora::tools::sp800_90b {

// Runs item(i, worker_index) for every i in [begin, end), halving the range
// between workers. Items must not throw; an item never runs while another
// is suspended on the same worker, so per-worker scratch is safe to use.
template <class Item>
void parallel_for(WorkerPool& pool, std::size_t begin, std::size_t end, Item& item) noexcept {
    if (end <= begin) return;
    if (end - begin == 1) {
        pool.run_blocking([&] {
            item(begin, current_worker()->index());
            return true;
        });
        return;
    }
    const std::size_t mid = begin + (end - begin) / 2;
    pool.join(
        [&](bool) {
            parallel_for(pool, begin, mid, item);
            return true;
        },
        [&](bool) {
            parallel_for(pool, mid, end, item);
            return true;
        });
}

} // namespace talvora::tools::sp800_90b
