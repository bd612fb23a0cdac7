// src/pool/injector.cpp: the injection ring.
//
// A cell's sequence carries the job: the producer writes the job, then
// stores the sequence with release; the consumer's acquire load of it pairs
// with that store and sees the job. Handing the cell back works the same way
// in the other direction (the consumer's release store, the next lap's
// producer's acquire load). The positions are only counters that claim a
// cell, relaxed: a CAS on them publishes nothing.
#include "pool/injector.h"

#include <bit>
#include <cstdint>

namespace talvora {

Injector::Injector(std::size_t capacity)
    : mask_(std::bit_ceil(capacity) - 1), cells_(new Cell[mask_ + 1]) {
    for (std::size_t i = 0; i <= mask_; ++i) {
        cells_[i].sequence.store(i, std::memory_order_relaxed);
        cells_[i].job = nullptr;
    }
}

bool Injector::push(Job* job) noexcept {
    std::size_t position = enqueue_position_.load(std::memory_order_relaxed);
    for (;;) {
        Cell& cell = cells_[position & mask_];
        const std::size_t sequence = cell.sequence.load(std::memory_order_acquire);
        const auto lag = static_cast<std::intptr_t>(sequence - position);
        if (lag == 0) {
            if (enqueue_position_.compare_exchange_weak(position, position + 1,
                                                        std::memory_order_relaxed)) {
                cell.job = job;
                cell.sequence.store(position + 1, std::memory_order_release);
                return true;
            }
        } else if (lag < 0) {
            return false; // the consumer of the previous lap has not taken its job
        } else {
            position = enqueue_position_.load(std::memory_order_relaxed);
        }
    }
}

Job* Injector::pop() noexcept {
    std::size_t position = dequeue_position_.load(std::memory_order_relaxed);
    for (;;) {
        Cell& cell = cells_[position & mask_];
        const std::size_t sequence = cell.sequence.load(std::memory_order_acquire);
        const auto lag = static_cast<std::intptr_t>(sequence - (position + 1));
        if (lag == 0) {
            if (dequeue_position_.compare_exchange_weak(position, position + 1,
                                                        std::memory_order_relaxed)) {
                Job* job = cell.job;
                cell.sequence.store(position + mask_ + 1, std::memory_order_release);
                return job;
            }
        } else if (lag < 0) {
            return nullptr; // empty, or its producer has not finished writing
        } else {
            position = dequeue_position_.load(std::memory_order_relaxed);
        }
    }
}

// A snapshot, relaxed: it only rations waking, and a stale answer wakes one
// worker more or one fewer.
bool Injector::is_empty() const noexcept {
    return dequeue_position_.load(std::memory_order_relaxed) ==
           enqueue_position_.load(std::memory_order_relaxed);
}

} // namespace talvora
