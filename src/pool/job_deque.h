// src/pool/job_deque.h: a worker's own job queue, a Chase-Lev deque (Chase
// and Lev, SPAA 2005; memory orders after Le et al., PPoPP 2013). The owner
// pushes and pops at the bottom, newest job first; thieves take the oldest
// job from the top.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace talvora {

struct Job;

class JobDeque {
  public:
    explicit JobDeque(std::size_t initial_capacity = 64);
    JobDeque(const JobDeque&) = delete;
    JobDeque& operator=(const JobDeque&) = delete;
    ~JobDeque();

    // Owner only: push and pop never overlap (checked in debug builds).
    void push(Job* job) noexcept;
    // Owner only; nullptr when empty or when a thief took the last job.
    Job* pop() noexcept;

    struct Stolen {
        enum Status { EMPTY, TAKEN, LOST_RACE } status;
        Job* job;
    };
    // Any thread; LOST_RACE means another thread took that job first.
    Stolen steal() noexcept;

    // A snapshot, exact only for the owner while no thief is active.
    bool is_empty() const noexcept;

  private:
    struct Buffer {
        explicit Buffer(std::size_t capacity);
        std::atomic<Job*>& at(std::int64_t index) noexcept {
            return slots[static_cast<std::size_t>(index) & mask];
        }
        std::size_t mask;
        std::unique_ptr<std::atomic<Job*>[]> slots;
    };

    Buffer* grow(Buffer* old, std::int64_t bottom, std::int64_t top);

    // top and bottom on their own cache lines: thieves hammer top, the owner
    // bottom.
    alignas(64) std::atomic<std::int64_t> top_{0};
    alignas(64) std::atomic<std::int64_t> bottom_{0};
    std::atomic<Buffer*> buffer_;
    // Outgrown buffers stay until the deque dies: a thief that loaded one
    // before the switch may still read it, and it still holds valid jobs.
    // Growth is rare (the deque is as deep as the nesting of joins), so this
    // costs little.
    std::vector<std::unique_ptr<Buffer>> buffers_;
    // Whether an owner's call is under way; debug builds only touch it.
    std::atomic<bool> owner_busy_{false};
};

} // namespace talvora
