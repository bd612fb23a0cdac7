// src/pool/global_pool.cpp: the process-wide pool, created once on first need.
#include "pool/pool.h"

namespace talvora {

PoolBuildResult create_global_pool(const SizingInputs& sizing, const SpawnThread& spawn) {
    PoolBuildResult result = WorkerPool::build(determine_worker_count(sizing), spawn);
    // Where threads cannot be made at all, the callers do the work themselves.
    if (!result.pool && result.error->is_unsupported() && current_worker() == nullptr)
        return {WorkerPool::without_threads(), std::nullopt};
    return result;
}

std::string global_pool_failure_message(const ThreadPoolBuildError& error) {
    return "The global thread pool has not been initialized.: " + error.debug_form();
}

WorkerPool& global_pool() noexcept {
    // A function-local static: a thread that arrives while another creates
    // the pool waits for it, and the pool is created once.
    static WorkerPool* const pool = [] {
        PoolBuildResult result =
            create_global_pool(SizingInputs::of_this_process(), spawn_detached_thread);
        if (!result.pool) fatal_failure(global_pool_failure_message(*result.error));
        return result.pool.release(); // lives until the process ends
    }();
    return *pool;
}

std::size_t worker_count() noexcept {
    if (const Worker* worker = current_worker()) return worker->pool().worker_count();
    return global_pool().worker_count();
}

} // namespace talvora
