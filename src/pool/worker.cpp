// src/pool/worker.cpp: the worker's search for work and its waiting.
#include "pool/worker.h"

#include "pool/pool.h"

namespace talvora {
namespace {

thread_local Worker* current = nullptr;

} // namespace

Worker* current_worker() noexcept {
    return current;
}

void enter_worker(Worker& worker) noexcept {
    if (current != nullptr) fatal_failure("a thread was made a pool worker twice");
    current = &worker;
}

void leave_worker(Worker& worker) noexcept {
    if (current != &worker) fatal_failure("a worker's marker was cleared by another thread");
    current = nullptr;
}

void Worker::attach(WorkerPool& pool, std::size_t index) noexcept {
    pool_ = &pool;
    index_ = index;
    // Any odd constant keeps xorshift away from its zero state.
    random_state_ = (index + 1) * 0x9e3779b97f4a7c15u | 1;
}

void SpinLatch::set() noexcept {
    // The latch lives in the owner's frame and may vanish once set: take
    // what the wake-up needs first.
    Worker& owner = owner_;
    if (core_.set()) owner.pool().sleep().wake_specific(owner.index());
}

void Worker::push(Job* job) noexcept {
    const bool was_empty = deque_.is_empty();
    deque_.push(job);
    pool_->sleep().new_jobs(was_empty);
}

void Worker::wait_until(CoreLatch& latch) noexcept {
    if (latch.probe()) return;
    Sleep& sleep = pool_->sleep();
    IdleState idle = sleep.start_looking(index_);
    while (!latch.probe()) {
        if (Job* job = find_work()) {
            sleep.work_found();
            execute(job);
            idle = sleep.start_looking(index_);
        } else {
            sleep.no_work_found(idle, latch);
        }
    }
    sleep.work_found();
}

Job* Worker::find_work() noexcept {
    if (Job* job = deque_.pop()) return job;
    if (Job* job = steal()) return job;
    return pool_->injector().pop();
}

Job* Worker::steal() noexcept {
    const std::size_t count = pool_->worker_count();
    if (count == 1) return nullptr;
    random_state_ ^= random_state_ >> 12;
    random_state_ ^= random_state_ << 25;
    random_state_ ^= random_state_ >> 27;
    const std::size_t start = (random_state_ * 0x2545f4914f6cdd1du >> 32) % count;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t victim = (start + i) % count;
        if (victim == index_) continue;
        for (;;) {
            const JobDeque::Stolen stolen = pool_->worker(victim).deque().steal();
            if (stolen.status == JobDeque::Stolen::TAKEN) return stolen.job;
            if (stolen.status == JobDeque::Stolen::EMPTY) break;
        }
    }
    return nullptr;
}

} // namespace talvora
