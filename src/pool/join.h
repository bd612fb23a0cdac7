// src/pool/join.h: the records of forked and injected tasks, and join on a
// worker. Both records live in the frame of the function that waits for
// them; only pointers enter the queues, so forking allocates nothing.
#pragma once

#include "pool/job.h"
#include "pool/latch.h"
#include "pool/worker.h"

#include <type_traits>
#include <utility>

namespace talvora {

// Task B of a join. Run by its owner it carries A's migrated flag; run by
// another worker it is migrated.
template <class Task> class JoinJob : public Job {
  public:
    using Result = std::invoke_result_t<Task&, bool>;

    JoinJob(Task& task, Worker& owner, bool migrated_if_kept) noexcept
        : Job{&JoinJob::run}, task_(task), latch_(owner), migrated_if_kept_(migrated_if_kept) {}

    SpinLatch& latch() noexcept { return latch_; }
    Result take_result() noexcept { return result_.take(); }

  private:
    static void run(Job* job, Worker& runner) noexcept {
        auto& self = *static_cast<JoinJob*>(job);
        const bool migrated = &runner != &self.latch_.owner() || self.migrated_if_kept_;
        self.result_.run([&] { return self.task_(migrated); });
        self.latch_.set();
    }

    Task& task_;
    SpinLatch latch_;
    bool migrated_if_kept_;
    JobResult<Result> result_;
};

// The operation a thread outside the pool hands in through run_blocking.
template <class Operation> class InjectedJob : public Job {
  public:
    using Result = std::invoke_result_t<Operation&, Worker&, bool>;

    InjectedJob(Operation& operation, CallerLatch& latch) noexcept
        : Job{&InjectedJob::run}, operation_(operation), latch_(latch) {}

    Result take_result() noexcept { return result_.take(); }

  private:
    static void run(Job* job, Worker&) noexcept {
        auto& self = *static_cast<InjectedJob*>(job);
        constexpr bool injected = true;
        Worker* worker_thread = current_worker();
        if (worker_thread == nullptr)
            fatal_failure("assertion failed: injected && !worker_thread.is_null()");
        self.result_.run([&] { return self.operation_(*worker_thread, injected); });
        self.latch_.set();
    }

    Operation& operation_;
    CallerLatch& latch_;
    JobResult<Result> result_;
};

// Runs a and b on worker, b possibly on another worker, and returns both
// results. a is migrated exactly when injected: this join is the operation
// of a job handed in from outside the pool.
template <class A, class B>
std::pair<std::invoke_result_t<A&, bool>, std::invoke_result_t<B&, bool>>
join_on(Worker& worker, A& a, B& b, bool injected) noexcept {
    TALVORA_DEBUG_ASSERT(worker.is_current());
    JoinJob<B> job_b(b, worker, injected);
    worker.push(&job_b);
    auto result_a = a(injected);
    while (!job_b.latch().probe()) {
        Job* job = worker.take_local();
        if (job == &job_b) return {std::move(result_a), b(injected)}; // nobody took it
        if (job == nullptr) {
            // Stolen: help with other work until the thief is done.
            worker.wait_until(job_b.latch().core());
            break;
        }
        // An older job of this worker's own, queued below b by an outer join.
        worker.execute(job);
    }
    return {std::move(result_a), job_b.take_result()};
}

} // namespace talvora
