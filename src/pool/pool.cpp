// src/pool/pool.cpp: starting, feeding and stopping a pool's workers.
#include "pool/pool.h"

#include <sched.h>

namespace talvora {

WorkerPool::WorkerPool(Unstarted, std::size_t worker_count, bool has_threads)
    : worker_count_(worker_count), has_threads_(has_threads), workers_(new Worker[worker_count]),
      sleep_(worker_count) {
    for (std::size_t i = 0; i < worker_count; ++i)
        workers_[i].attach(*this, i);
}

WorkerPool::WorkerPool(std::size_t worker_count) : WorkerPool(Unstarted{}, worker_count, true) {
    if (const auto error = start(spawn_detached_thread))
        fatal_failure("could not start a worker thread: " + error->debug_form());
}

PoolBuildResult WorkerPool::build(std::size_t worker_count, const SpawnThread& spawn) {
    std::unique_ptr<WorkerPool> pool(new WorkerPool(Unstarted{}, worker_count, true));
    const std::optional<ThreadPoolBuildError> error = pool->start(spawn);
    if (error && pool->worker_count() == 0) return {nullptr, error};
    return {std::move(pool), std::nullopt};
}

std::unique_ptr<WorkerPool> WorkerPool::without_threads() {
    return std::unique_ptr<WorkerPool>(new WorkerPool(Unstarted{}, 1, false));
}

std::optional<ThreadPoolBuildError> WorkerPool::start(const SpawnThread& spawn) {
    const std::size_t asked = worker_count();
    for (std::size_t i = 0; i < asked; ++i) {
        ++running_.get(running_.lock());
        if (const int error = spawn(&WorkerPool::worker_main, &workers_[i])) {
            --running_.get(running_.lock());
            // Workers 0 to i - 1 run on; the others never start, and their
            // empty queues are never looked at again.
            worker_count_.store(i, std::memory_order_relaxed);
            return ThreadPoolBuildError{error};
        }
    }
    return std::nullopt;
}

WorkerPool::~WorkerPool() {
    for (std::size_t i = 0; i < worker_count(); ++i)
        workers_[i].terminate_latch().set();
    Guarded<std::size_t>::Lock lock = running_.lock();
    stopped_.wait(lock, [&] { return running_.get(lock) == 0; });
}

void* WorkerPool::worker_main(void* argument) {
    Worker& worker = *static_cast<Worker*>(argument);
    WorkerPool& pool = worker.pool();
    mark_thread_unnamed();
    enter_worker(worker);
    worker.wait_until(worker.terminate_latch().core(), Worker::Waiting::FRESH);
    leave_worker(worker);
    pool.worker_stopped();
    return nullptr;
}

void WorkerPool::worker_stopped() noexcept {
    // Notified under the mutex: the destructor cannot free the pool before
    // this thread is done with it.
    Guarded<std::size_t>::Lock lock = running_.lock();
    if (--running_.get(lock) == 0) stopped_.notify_all();
}

void WorkerPool::inject(Job* job) noexcept {
    const bool was_empty = injector_.is_empty();
    while (!injector_.push(job))
        sched_yield(); // full: workers are draining it
    sleep_.new_jobs(was_empty);
}

CallerLatch& CallerLatch::of_this_thread() noexcept {
    thread_local CallerLatch latch;
    return latch;
}

} // namespace talvora
