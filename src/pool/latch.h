// src/pool/latch.h: the signals by which a finished task tells its waiter.
#pragma once

#include "pool/debug_assert.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace talvora {

class Worker;

// A one-shot, lock-free latch that a worker waits on while it looks for
// other work. Its state also tells the setter whether the waiting worker has
// gone to sleep and must be woken (see sleep.h for the protocol). Only the
// waiter moves it between UNSET, SLEEPY and SLEEPING; anyone else only sets
// it.
class CoreLatch {
  public:
    // Acquire, pairing with the release of set: once this is true, the
    // waiter sees everything the task wrote before setting the latch.
    bool probe() const noexcept { return state_.load(std::memory_order_acquire) == SET; }

    // The waiter announces that it is about to sleep; false if already set,
    // or still sleepy from an announcement after which it found work.
    bool get_sleepy() noexcept {
        std::uint8_t seen = UNSET;
        const bool moved = advance(seen, SLEEPY);
        TALVORA_DEBUG_ASSERT(moved || seen == SET || seen == SLEEPY);
        return moved;
    }
    // The waiter commits to sleeping; false if set since it got sleepy.
    bool fall_asleep() noexcept {
        std::uint8_t seen = SLEEPY;
        const bool moved = advance(seen, SLEEPING);
        TALVORA_DEBUG_ASSERT(moved || seen == SET);
        return moved;
    }
    // The waiter is awake again, unless the latch was set meanwhile.
    void wake_up() noexcept {
        std::uint8_t seen = SLEEPING;
        [[maybe_unused]] const bool moved = advance(seen, UNSET);
        TALVORA_DEBUG_ASSERT(moved || seen == SET);
    }

    // Sets the latch; true when the waiter was asleep and has to be woken.
    // The latch may be destroyed as soon as this returns. Release pairs with
    // probe; acquire with the waiter's move to SLEEPING, after which the
    // setter wakes it under the sleep mutex it blocks with.
    bool set() noexcept { return state_.exchange(SET, std::memory_order_acq_rel) == SLEEPING; }

  private:
    static constexpr std::uint8_t UNSET = 0, SLEEPY = 1, SLEEPING = 2, SET = 3;

    // acq_rel: the waiter's moves pair with set as described there; on
    // failure, acquire makes a SET state as good as a probe. from is left
    // holding the state found.
    bool advance(std::uint8_t& from, std::uint8_t to) noexcept {
        return state_.compare_exchange_strong(from, to, std::memory_order_acq_rel,
                                              std::memory_order_acquire);
    }

    std::atomic<std::uint8_t> state_{UNSET};
};

// The latch of a forked task, whose owner is the worker that forked it.
class SpinLatch {
  public:
    explicit SpinLatch(Worker& owner) noexcept : owner_(owner) {}

    bool probe() const noexcept { return core_.probe(); }
    CoreLatch& core() noexcept { return core_; }
    Worker& owner() const noexcept { return owner_; }
    // Sets the latch and wakes exactly the owner if it sleeps.
    void set() noexcept;

  private:
    CoreLatch core_;
    Worker& owner_;
};

// The latch of a thread outside the pool that waits in run_blocking: it
// blocks in the kernel rather than spinning, and is reused for every call
// that thread makes.
class CallerLatch {
  public:
    static CallerLatch& of_this_thread() noexcept;

    // Called by the worker that ran the caller's job. The notification
    // happens under the mutex, so the waiter cannot leave (and the latch
    // cannot die with its thread) before this returns.
    void set() noexcept {
        std::lock_guard lock(mutex_);
        flag_ = true;
        signal_.notify_all();
    }

    // Blocks until set, then rearms the latch for the next call.
    void wait_and_reset() noexcept {
        std::unique_lock lock(mutex_);
        signal_.wait(lock, [this] { return flag_; });
        flag_ = false;
    }

  private:
    std::mutex mutex_;
    std::condition_variable signal_;
    bool flag_ = false;
};

} // namespace talvora
