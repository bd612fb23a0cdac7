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
    if (auto error = pool->start(spawn)) return {nullptr, error}; // stops what started
    return {std::move(pool), std::nullopt};
}

std::unique_ptr<WorkerPool> WorkerPool::without_threads() {
    return std::unique_ptr<WorkerPool>(new WorkerPool(Unstarted{}, 1, false));
}

std::optional<ThreadPoolBuildError> WorkerPool::start(const SpawnThread& spawn) {
    for (std::size_t i = 0; i < worker_count_; ++i) {
        {
            std::lock_guard lock(stop_mutex_);
            ++running_;
        }
        if (const int error = spawn(&WorkerPool::worker_main, &workers_[i])) {
            std::lock_guard lock(stop_mutex_);
            --running_;
            return ThreadPoolBuildError{ThreadPoolBuildError::Kind::IOError, error};
        }
    }
    return std::nullopt;
}

WorkerPool::~WorkerPool() {
    for (std::size_t i = 0; i < worker_count_; ++i)
        workers_[i].terminate_latch().set();
    std::unique_lock lock(stop_mutex_);
    stopped_.wait(lock, [this] { return running_ == 0; });
}

void* WorkerPool::worker_main(void* argument) {
    Worker& worker = *static_cast<Worker*>(argument);
    WorkerPool& pool = worker.pool();
    mark_thread_unnamed();
    enter_worker(worker);
    worker.wait_until(worker.terminate_latch().core());
    leave_worker(worker);
    pool.worker_stopped();
    return nullptr;
}

void WorkerPool::worker_stopped() noexcept {
    // Notified under the mutex: the destructor cannot free the pool before
    // this thread is done with it.
    std::lock_guard lock(stop_mutex_);
    if (--running_ == 0) stopped_.notify_all();
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
