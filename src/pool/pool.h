// src/pool/pool.h: the work-stealing worker pool: the process-wide one on
// which long inputs are counted, and pools of a given size for tests.
#pragma once

#include "pool/build_error.h"
#include "pool/guarded.h"
#include "pool/injector.h"
#include "pool/join.h"
#include "pool/sizing.h"
#include "pool/sleep.h"
#include "pool/thread_spawn.h"
#include "pool/worker.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>

namespace talvora {

struct PoolBuildResult;

class WorkerPool {
  public:
    // A pool of exactly worker_count detached workers; failing to start one
    // is fatal.
    explicit WorkerPool(std::size_t worker_count);
    // Up to worker_count workers started through spawn. When the system
    // refuses a thread (a pids or address-space limit, say), the pool keeps
    // the workers already running; when it refuses the first, there is no
    // pool and the error says why.
    static PoolBuildResult build(std::size_t worker_count, const SpawnThread& spawn);
    // A single worker and no thread: whichever thread hands in work runs it
    // itself, one thread at a time. For systems that cannot start threads.
    static std::unique_ptr<WorkerPool> without_threads();

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    // Tells the workers to stop and waits until they have let go of the
    // pool. The process-wide pool is never destroyed.
    ~WorkerPool();

    // Relaxed: the count changes only while the pool starts, before it is
    // handed out; a worker that read the larger count meanwhile only looks
    // into queues that stay empty.
    std::size_t worker_count() const noexcept {
        return worker_count_.load(std::memory_order_relaxed);
    }

    // Runs a(migrated) and b(migrated), possibly at the same time, and
    // returns both results. On a worker of this pool the calling thread
    // takes part; from any other thread the join goes in through
    // run_blocking. a runs migrated exactly when the join is handed in from
    // outside or runs directly in an operation handed in by run_blocking.
    template <class A, class B> auto join(A&& a, B&& b) noexcept {
        if (Worker* worker = current_worker(); worker && &worker->pool() == this) {
            const bool injected = worker->in_injected_operation();
            const InjectedOperationScope tasks(*worker, false);
            return join_on(*worker, a, b, injected);
        }
        return inject_and_wait(
            [&](Worker& worker, bool injected) { return join_on(worker, a, b, injected); });
    }

    // Runs operation() on a worker of this pool and returns its result. A
    // thread outside the pool blocks, without spinning, until it is done; a
    // worker of this pool runs it at once.
    template <class Operation> auto run_blocking(Operation&& operation) noexcept {
        if (Worker* worker = current_worker(); worker && &worker->pool() == this)
            return operation();
        return inject_and_wait([&](Worker& worker, bool injected) {
            const InjectedOperationScope scope(worker, injected);
            return operation();
        });
    }

    // What the workers share.
    Worker& worker(std::size_t index) noexcept { return workers_[index]; }
    Sleep& sleep() noexcept { return sleep_; }
    Injector& injector() noexcept { return injector_; }

    // The worker that last put a job into its empty queue: where a pool has
    // more workers than one search visits, thieves look there first. Relaxed
    // on both sides: it is only a hint, and the queue's own orderings
    // publish the job.
    void note_publisher(std::size_t index) noexcept {
        if (recent_publisher_.load(std::memory_order_relaxed) != index)
            recent_publisher_.store(index, std::memory_order_relaxed);
    }
    std::size_t recent_publisher() const noexcept {
        return recent_publisher_.load(std::memory_order_relaxed);
    }

  private:
    struct Unstarted {};
    WorkerPool(Unstarted, std::size_t worker_count, bool has_threads);

    std::optional<ThreadPoolBuildError> start(const SpawnThread& spawn);
    static void* worker_main(void* worker);
    void worker_stopped() noexcept;
    void inject(Job* job) noexcept;

    template <class Operation> auto inject_and_wait(Operation&& operation) noexcept {
        if (!has_threads_) return run_borrowed(operation);
        CallerLatch& latch = CallerLatch::of_this_thread();
        InjectedJob<std::remove_reference_t<Operation>> job(operation, latch);
        inject(&job);
        latch.wait_and_reset();
        return job.take_result();
    }

    template <class Operation> auto run_borrowed(Operation& operation) noexcept {
        std::lock_guard lock(borrow_mutex_);
        Worker& worker = workers_[0];
        enter_worker(worker);
        auto result = operation(worker, true);
        leave_worker(worker);
        return result;
    }

    std::atomic<std::size_t> worker_count_;
    const bool has_threads_;
    std::unique_ptr<Worker[]> workers_;
    Sleep sleep_;
    Injector injector_;
    alignas(64) std::atomic<std::size_t> recent_publisher_{0};
    std::mutex borrow_mutex_;
    Guarded<std::size_t> running_; // worker threads not yet stopped
    std::condition_variable stopped_;
};

struct PoolBuildResult {
    std::unique_ptr<WorkerPool> pool;
    std::optional<ThreadPoolBuildError> error; // set when pool is not
};

// The process-wide pool, created on first need with determine_worker_count
// workers, or as many as the system lets it start. A pool that cannot be
// created at all is a fatal failure.
WorkerPool& global_pool() noexcept;

// How the process-wide pool is made: workers started through spawn, as many
// as the system allows; if it allows none, a pool without threads.
PoolBuildResult create_global_pool(const SizingInputs& sizing, const SpawnThread& spawn);

// The fatal message for a process-wide pool that cannot be created.
std::string global_pool_failure_message(const ThreadPoolBuildError& error);

// The calling worker's pool, or the process-wide pool (creating it) on any
// other thread.
WorkerPool& current_pool() noexcept;

} // namespace talvora
