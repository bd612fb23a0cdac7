// src/pool/sleep.h: when idle workers sleep and who wakes them.
//
// The protocol. One atomic word counts the sleeping workers, the idle ones
// (searching or sleeping) and job events (JEC). A worker that finds no work:
//   1. yields and searches again, ROUNDS_UNTIL_SLEEPY times (a worker that
//      has just started skips this step: it has run no job yet);
//   2. announces that it is sleepy: it makes the JEC odd (an RMW) and
//      remembers the value, then searches once more;
//   3. commits under its own mutex: it adds itself to the sleeping count
//      only if the JEC still holds the remembered value (one CAS), and then
//      blocks on its condition variable.
// Whoever publishes a job (own deque or injection ring) does so first and
// then makes the JEC even if it is odd (always an RMW on the word). So for a
// job published while a worker is between 2 and 3, either the worker's RMW
// comes after the publisher's (its last search sees the job), or the
// publisher's comes after the announcement (the JEC moved, the commit fails
// and the worker searches again), or after the commit (the publisher sees
// the sleeper in the count and wakes one). No job waits while every worker
// sleeps.
//
// All read-modify-writes of the word are sequentially consistent (acquire
// and release would do): they form one order, and whichever of a publisher's
// RMW and a worker's announcement comes second acquires what the first
// released, which is the argument above.
//
// Waking is rationed. A new job wakes at most one sleeper, and only if no
// awake worker is idle (it would find the job itself) or the queue already
// held jobs (the idle ones are evidently not keeping up). A worker that
// stops being idle, when it was the last awake one searching, wakes up to two
// sleepers so that someone keeps looking. A latch whose owner sleeps wakes
// exactly that owner (see CoreLatch). The waker takes the sleeper off the
// sleeping count under the sleeper's mutex, so two wakers never count the
// same sleeper.
#pragma once

#include "pool/guarded.h"
#include "pool/latch.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace talvora {

inline constexpr std::uint32_t ROUNDS_UNTIL_SLEEPY = 32;

// A searching worker's progress towards sleep.
struct IdleState {
    std::size_t worker_index;
    std::uint32_t rounds = 0;
    std::uint32_t jobs_counter = 0; // the JEC value announced at step 2
};

class Sleep {
  public:
    explicit Sleep(std::size_t worker_count);

    // The worker starts searching for work.
    IdleState start_looking(std::size_t worker_index) noexcept;
    // The worker stops searching, having found work or seen its latch set.
    void work_found() noexcept;
    // One search found nothing: yield, announce, or sleep until woken.
    // latch is what the worker waits for; its setter wakes the worker.
    void no_work_found(IdleState& idle, CoreLatch& latch) noexcept;
    // Step 2 at once: the next search is the last before sleeping.
    void announce_sleepy(IdleState& idle, CoreLatch& latch) noexcept;

    // A job was just published; queue_was_empty tells whether its queue was
    // empty before.
    void new_jobs(bool queue_was_empty) noexcept;
    // Wakes the given worker if it is blocked; true if it was.
    bool wake_specific(std::size_t worker_index) noexcept;

  private:
    struct alignas(64) Slot {
        Guarded<bool> is_blocked;
        std::condition_variable wake;
    };

    void sleep(IdleState& idle, CoreLatch& latch) noexcept;
    void wake_any(std::uint64_t count) noexcept;

    std::size_t worker_count_;
    std::unique_ptr<Slot[]> slots_;
    alignas(64) std::atomic<std::uint64_t> counters_{0};
};

} // namespace talvora
