// src/pool/global_pool.cpp: the process-wide pool, created once on first need.
#include "pool/pool.h"

#include <atomic>
#include <pthread.h>

namespace talvora {
namespace {

// Stored with release once the pool is made; the acquire load of a later
// caller pairs with it and sees the pool whole.
std::atomic<WorkerPool*> slot{nullptr};
// Serialises creation: threads that arrive while it runs wait for it.
pthread_mutex_t creation = PTHREAD_MUTEX_INITIALIZER;

// A child made by fork has only the forking thread: the pool it inherited
// has no workers left and would never run a job. The child makes its own on
// first need; the old one's memory is left alone, as its locks may be held
// by threads that no longer exist.
void forget_pool_in_child() noexcept {
    slot.store(nullptr, std::memory_order_relaxed); // the child has one thread
    creation = PTHREAD_MUTEX_INITIALIZER;
}

WorkerPool* create_or_die() noexcept {
    PoolBuildResult result =
        create_global_pool(SizingInputs::of_this_process(), spawn_detached_thread);
    if (!result.pool) fatal_failure(global_pool_failure_message(*result.error));
    return result.pool.release(); // lives until the process ends
}

} // namespace

PoolBuildResult create_global_pool(const SizingInputs& sizing, const SpawnThread& spawn) {
    PoolBuildResult result = WorkerPool::build(determine_worker_count(sizing), spawn);
    // Where not one thread can be made (no thread support, or a limit already
    // reached), the callers do the work themselves; not on a worker of
    // another pool, which cannot also become this pool's.
    if (!result.pool && current_worker() == nullptr)
        return {WorkerPool::without_threads(), std::nullopt};
    return result;
}

std::string global_pool_failure_message(const ThreadPoolBuildError& error) {
    return "The global thread pool has not been initialized.: " + error.debug_form();
}

WorkerPool& global_pool() noexcept {
    if (WorkerPool* pool = slot.load(std::memory_order_acquire)) return *pool;
    pthread_mutex_lock(&creation);
    WorkerPool* pool = slot.load(std::memory_order_relaxed); // the mutex orders it
    if (!pool) {
        [[maybe_unused]] static const bool fork_handled =
            pthread_atfork(nullptr, nullptr, forget_pool_in_child) == 0;
        pool = create_or_die();
        slot.store(pool, std::memory_order_release);
    }
    pthread_mutex_unlock(&creation);
    return *pool;
}

WorkerPool& current_pool() noexcept {
    if (Worker* worker = current_worker()) return worker->pool();
    return global_pool();
}

} // namespace talvora
