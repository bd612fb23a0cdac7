// src/pool/job_deque.cpp: the Chase-Lev deque.
//
// The job record itself is published by the release stores of bottom_ and
// read after the thief's load of bottom_; the slots are atomic only so that a
// thief's read of a slot the owner is rewriting is not a data race (its CAS
// on top_ then fails and the value is dropped). Every store of bottom_ is a
// release, even pop's, so a thief that reads any later value of bottom_ also
// sees the jobs pushed before it.
#include "pool/job_deque.h"

#include "pool/debug_assert.h"

#include <bit>

namespace talvora {
namespace {

// Marks an owner's call for its duration; debug builds fail on one that
// overlaps another. Relaxed: both read-modify-write the one flag, and owners
// that take turns are ordered by whatever hands the queue over.
class OwnerCall {
  public:
    explicit OwnerCall(std::atomic<bool>& busy) noexcept : busy_(busy) {
        TALVORA_DEBUG_ASSERT(!busy_.exchange(true, std::memory_order_relaxed));
    }
    ~OwnerCall() { TALVORA_DEBUG_ASSERT(busy_.exchange(false, std::memory_order_relaxed)); }
    OwnerCall(const OwnerCall&) = delete;
    OwnerCall& operator=(const OwnerCall&) = delete;

  private:
    std::atomic<bool>& busy_;
};

} // namespace

JobDeque::Buffer::Buffer(std::size_t capacity)
    : mask(capacity - 1), slots(new std::atomic<Job*>[capacity]) {}

JobDeque::JobDeque(std::size_t initial_capacity) {
    buffers_.push_back(std::make_unique<Buffer>(std::bit_ceil(initial_capacity)));
    buffer_.store(buffers_.back().get(), std::memory_order_relaxed);
}

JobDeque::~JobDeque() = default;

JobDeque::Buffer* JobDeque::grow(Buffer* old, std::int64_t bottom, std::int64_t top) {
    buffers_.push_back(std::make_unique<Buffer>(2 * (old->mask + 1)));
    Buffer* bigger = buffers_.back().get();
    for (std::int64_t i = top; i < bottom; ++i)
        bigger->at(i).store(old->at(i).load(std::memory_order_relaxed), std::memory_order_relaxed);
    buffer_.store(bigger, std::memory_order_release);
    return bigger;
}

void JobDeque::push(Job* job) noexcept {
    const OwnerCall owner(owner_busy_);
    const std::int64_t bottom = bottom_.load(std::memory_order_relaxed);
    const std::int64_t top = top_.load(std::memory_order_acquire);
    Buffer* buffer = buffer_.load(std::memory_order_relaxed);
    if (bottom - top > static_cast<std::int64_t>(buffer->mask)) buffer = grow(buffer, bottom, top);
    buffer->at(bottom).store(job, std::memory_order_relaxed);
    bottom_.store(bottom + 1, std::memory_order_release);
}

Job* JobDeque::pop() noexcept {
    const OwnerCall owner(owner_busy_);
    const std::int64_t bottom = bottom_.load(std::memory_order_relaxed) - 1;
    Buffer* buffer = buffer_.load(std::memory_order_relaxed);
    // Claim the bottom slot before looking at top: the sequentially
    // consistent pair orders this against a thief's load of top, then bottom.
    bottom_.store(bottom, std::memory_order_seq_cst);
    std::int64_t top = top_.load(std::memory_order_seq_cst);
    if (top > bottom) {
        bottom_.store(bottom + 1, std::memory_order_release);
        return nullptr;
    }
    Job* job = buffer->at(bottom).load(std::memory_order_relaxed);
    if (top == bottom) {
        // The last job: the owner and the thieves race for it on top_.
        if (!top_.compare_exchange_strong(top, top + 1, std::memory_order_seq_cst,
                                          std::memory_order_relaxed))
            job = nullptr;
        bottom_.store(bottom + 1, std::memory_order_release);
    }
    return job;
}

JobDeque::Stolen JobDeque::steal() noexcept {
    std::int64_t top = top_.load(std::memory_order_seq_cst);
    const std::int64_t bottom = bottom_.load(std::memory_order_seq_cst);
    if (top >= bottom) return {Stolen::EMPTY, nullptr};
    Job* job = buffer_.load(std::memory_order_acquire)->at(top).load(std::memory_order_relaxed);
    if (!top_.compare_exchange_strong(top, top + 1, std::memory_order_seq_cst,
                                      std::memory_order_relaxed))
        return {Stolen::LOST_RACE, nullptr};
    return {Stolen::TAKEN, job};
}

bool JobDeque::is_empty() const noexcept {
    return bottom_.load(std::memory_order_relaxed) <= top_.load(std::memory_order_relaxed);
}

} // namespace talvora
