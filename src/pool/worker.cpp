// src/pool/worker.cpp: the worker's search for work and its waiting.
#include "pool/worker.h"

#include "pool/pool.h"

#include <algorithm>

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

bool Worker::is_current() const noexcept {
    return current == this;
}

void Worker::attach(WorkerPool& pool, std::size_t index) noexcept {
    TALVORA_DEBUG_ASSERT(pool_ == nullptr); // once, before its thread starts
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
    TALVORA_DEBUG_ASSERT(is_current());
    const bool was_empty = deque_.is_empty();
    deque_.push(job);
    if (was_empty) pool_->note_publisher(index_);
    pool_->sleep().new_jobs(was_empty);
}

void Worker::wait_until(CoreLatch& latch, Waiting waiting) noexcept {
    TALVORA_DEBUG_ASSERT(is_current());
    if (latch.probe()) return;
    Sleep& sleep = pool_->sleep();
    IdleState idle = sleep.start_looking(index_);
    if (waiting == Waiting::FRESH) sleep.announce_sleepy(idle, latch);
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

// Bounding each search keeps an idle worker's effort independent of the
// pool's size (once all N workers each went round all N queues 33 times
// before sleeping, and a large pool took minutes to start). It cannot leave
// a job waiting while every worker sleeps: only a queue's owner puts jobs in
// it and owners take their own jobs back, so a queue can hold jobs only
// while its owner is awake, and every search reads the whole injection
// queue.
Job* Worker::steal() noexcept {
    const std::size_t count = pool_->worker_count();
    if (count == 1) return nullptr;
    const std::size_t hinted = pool_->recent_publisher();
    if (hinted != index_ && hinted < count)
        if (Job* job = steal_from(hinted)) return job;
    random_state_ ^= random_state_ >> 12;
    random_state_ ^= random_state_ << 25;
    random_state_ ^= random_state_ >> 27;
    const std::size_t start = (random_state_ * 0x2545f4914f6cdd1du >> 32) % count;
    const std::size_t victims = std::min(count - 1, STEAL_VICTIMS_PER_PASS);
    for (std::size_t i = 0, visited = 0; visited < victims; ++i) {
        const std::size_t victim = (start + i) % count;
        if (victim == index_) continue;
        ++visited;
        if (Job* job = steal_from(victim)) return job;
    }
    return nullptr;
}

Job* Worker::steal_from(std::size_t victim) noexcept {
    for (;;) {
        const JobDeque::Stolen stolen = pool_->worker(victim).deque().steal();
        if (stolen.status == JobDeque::Stolen::TAKEN) return stolen.job;
        if (stolen.status == JobDeque::Stolen::EMPTY) return nullptr;
    }
}

} // namespace talvora
