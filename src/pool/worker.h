// src/pool/worker.h: a worker of a pool: its queue, its search for work and
// the thread-local marker that tells workers from outside callers.
#pragma once

#include "pool/debug_assert.h"
#include "pool/job.h"
#include "pool/job_deque.h"
#include "pool/latch.h"

#include <cstddef>
#include <cstdint>
#include <utility>

namespace talvora {

class WorkerPool;

// How many other workers one search visits. Up to this many plus one, a
// search goes round them all; in larger pools it visits this many from a
// random one on, so that an idle worker's search costs the same in a pool of
// 65,535 workers as in one of 65.
inline constexpr std::size_t STEAL_VICTIMS_PER_PASS = 64;

class alignas(64) Worker {
  public:
    Worker() = default;
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Called once by the pool before the worker's thread starts.
    void attach(WorkerPool& pool, std::size_t index) noexcept;

    WorkerPool& pool() const noexcept { return *pool_; }
    std::size_t index() const noexcept { return index_; }

    // Whether the calling thread is this worker: only it may push and take
    // from its queue, wait, and change the flag below.
    bool is_current() const noexcept;

    // Offers a job to the other workers, waking a sleeper if needed.
    void push(Job* job) noexcept;
    // The newest job of the own queue, if any.
    Job* take_local() noexcept {
        TALVORA_DEBUG_ASSERT(is_current());
        return deque_.pop();
    }
    void execute(Job* job) noexcept { job->execute(job, *this); }

    enum class Waiting {
        // Between jobs: search and yield for a while before sleeping, which
        // keeps short gaps between jobs cheap.
        BETWEEN_JOBS,
        // A worker that has just started has no such gap to bridge: it
        // searches once and sleeps, so that a pool of thousands of workers
        // does not spend its start-up yielding to itself.
        FRESH,
    };
    // Runs other work, or sleeps, until latch is set.
    void wait_until(CoreLatch& latch, Waiting waiting = Waiting::BETWEEN_JOBS) noexcept;

    // Whether the worker runs an operation handed in by run_blocking, outside
    // the tasks of any join in it: a join there runs A migrated.
    bool in_injected_operation() const noexcept { return in_injected_operation_; }
    bool exchange_in_injected_operation(bool value) noexcept {
        TALVORA_DEBUG_ASSERT(is_current());
        return std::exchange(in_injected_operation_, value);
    }

    JobDeque& deque() noexcept { return deque_; }
    // Set only when a pool that is not the process-wide one shuts down.
    SpinLatch& terminate_latch() noexcept { return terminate_; }

  private:
    // Own queue newest first, then the oldest job of another worker, then
    // the oldest injected job.
    Job* find_work() noexcept;
    // The oldest job of the recent publisher, else of up to
    // STEAL_VICTIMS_PER_PASS other workers from a random one on.
    Job* steal() noexcept;
    Job* steal_from(std::size_t victim) noexcept;

    WorkerPool* pool_ = nullptr;
    std::size_t index_ = 0;
    std::uint64_t random_state_ = 0;
    bool in_injected_operation_ = false;
    JobDeque deque_;
    SpinLatch terminate_{*this};
};

// Sets the worker's injected-operation flag for a scope.
class InjectedOperationScope {
  public:
    InjectedOperationScope(Worker& worker, bool value) noexcept
        : worker_(worker), outer_(worker.exchange_in_injected_operation(value)) {}
    InjectedOperationScope(const InjectedOperationScope&) = delete;
    InjectedOperationScope& operator=(const InjectedOperationScope&) = delete;
    ~InjectedOperationScope() { worker_.exchange_in_injected_operation(outer_); }

  private:
    Worker& worker_;
    bool outer_;
};

// The worker the calling thread is, or nullptr for every other thread.
Worker* current_worker() noexcept;
// Marks the calling thread as worker; fatal if it already is one.
void enter_worker(Worker& worker) noexcept;
// Clears the mark; fatal if the thread is not that worker.
void leave_worker(Worker& worker) noexcept;

} // namespace talvora
