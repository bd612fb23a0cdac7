// src/pool/sleep.cpp: the sleep-and-wake protocol described in sleep.h.
#include "pool/sleep.h"

#include "pool/sizing.h"

#include <algorithm>
#include <sched.h>

namespace talvora {
namespace {

// counters_: bits 0-15 sleeping workers, 16-31 idle workers (sleepers
// included), 32-63 the job event counter. 65,535 workers fit in 16 bits.
constexpr std::uint64_t ONE_SLEEPING = 1;
constexpr std::uint64_t ONE_IDLE = std::uint64_t{1} << 16;
constexpr std::uint64_t ONE_JOB_EVENT = std::uint64_t{1} << 32;
static_assert(MAX_WORKER_COUNT <= 0xffff, "the worker counts must fit in 16 bits");

constexpr std::uint64_t sleeping(std::uint64_t c) {
    return c & 0xffff;
}
constexpr std::uint64_t idle(std::uint64_t c) {
    return (c >> 16) & 0xffff;
}
constexpr std::uint32_t job_events(std::uint64_t c) {
    return static_cast<std::uint32_t>(c >> 32);
}
constexpr bool sleepy(std::uint64_t c) {
    return job_events(c) % 2 == 1;
}

} // namespace

Sleep::Sleep(std::size_t worker_count)
    : worker_count_(worker_count), slots_(new Slot[worker_count]) {}

// The idle and sleeping counts only ration waking; no data rides on them.
IdleState Sleep::start_looking(std::size_t worker_index) noexcept {
    counters_.fetch_add(ONE_IDLE, std::memory_order_seq_cst);
    return IdleState{worker_index};
}

void Sleep::work_found() noexcept {
    const std::uint64_t before = counters_.fetch_sub(ONE_IDLE, std::memory_order_seq_cst);
    const std::uint64_t sleepers = sleeping(before);
    if (sleepers > 0 && idle(before) - sleepers == 1)
        wake_any(std::min<std::uint64_t>(sleepers, 2));
}

void Sleep::no_work_found(IdleState& idle, CoreLatch& latch) noexcept {
    if (idle.rounds < ROUNDS_UNTIL_SLEEPY) {
        ++idle.rounds;
        sched_yield();
    } else if (idle.rounds == ROUNDS_UNTIL_SLEEPY) {
        announce_sleepy(idle, latch);
        sched_yield();
    } else {
        sleep(idle, latch);
    }
}

void Sleep::announce_sleepy(IdleState& idle, CoreLatch& latch) noexcept {
    // The load is only a first guess; the CAS checks it.
    std::uint64_t c = counters_.load(std::memory_order_relaxed);
    std::uint64_t announced;
    do {
        announced = sleepy(c) ? c : c + ONE_JOB_EVENT;
    } while (!counters_.compare_exchange_weak(c, announced, std::memory_order_seq_cst,
                                              std::memory_order_relaxed));
    idle.jobs_counter = job_events(announced);
    latch.get_sleepy();
    idle.rounds = ROUNDS_UNTIL_SLEEPY + 1;
}

void Sleep::sleep(IdleState& idle, CoreLatch& latch) noexcept {
    Slot& slot = slots_[idle.worker_index];
    Guarded<bool>::Lock lock = slot.is_blocked.lock();
    // Holding the mutex from here until the wait makes a latch setter or a
    // waker that sees us asleep wait until we really block.
    if (!latch.fall_asleep()) { // set since we got sleepy
        idle.rounds = 0;
        return;
    }
    std::uint64_t c = counters_.load(std::memory_order_relaxed);
    do {
        if (job_events(c) != idle.jobs_counter) {
            // Step 3 failed: a job came since the announcement. Search
            // again, and announce afresh before the next attempt to sleep.
            latch.wake_up();
            idle.rounds = ROUNDS_UNTIL_SLEEPY;
            return;
        }
    } while (!counters_.compare_exchange_weak(c, c + ONE_SLEEPING, std::memory_order_seq_cst,
                                              std::memory_order_relaxed));
    slot.is_blocked.get(lock) = true;
    slot.wake.wait(lock, [&] { return !slot.is_blocked.get(lock); });
    latch.wake_up();
    idle.rounds = 0;
}

void Sleep::new_jobs(bool queue_was_empty) noexcept {
    std::uint64_t c = counters_.load(std::memory_order_relaxed);
    std::uint64_t now;
    do {
        now = sleepy(c) ? c + ONE_JOB_EVENT : c;
    } while (!counters_.compare_exchange_weak(c, now, std::memory_order_seq_cst,
                                              std::memory_order_relaxed));
    const std::uint64_t sleepers = sleeping(now);
    if (sleepers == 0) return;
    const std::uint64_t awake_idle = idle(now) - sleepers;
    if (!queue_was_empty || awake_idle == 0) wake_any(1);
}

bool Sleep::wake_specific(std::size_t worker_index) noexcept {
    Slot& slot = slots_[worker_index];
    const Guarded<bool>::Lock lock = slot.is_blocked.lock();
    if (!slot.is_blocked.get(lock)) return false;
    slot.is_blocked.get(lock) = false;
    slot.wake.notify_one();
    counters_.fetch_sub(ONE_SLEEPING, std::memory_order_seq_cst);
    return true;
}

void Sleep::wake_any(std::uint64_t count) noexcept {
    for (std::size_t i = 0; i < worker_count_ && count > 0; ++i)
        if (wake_specific(i)) --count;
}

} // namespace talvora
