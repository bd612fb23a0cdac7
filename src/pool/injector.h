// src/pool/injector.h: the pool's shared first-in-first-out queue for jobs
// handed in by threads outside the pool; a bounded multi-producer,
// multi-consumer ring after D. Vyukov's design.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

namespace talvora {

struct Job;

class Injector {
  public:
    // capacity is rounded up to a power of two.
    explicit Injector(std::size_t capacity = 1024);

    // False when the ring is full. Each entry is a thread blocked in
    // run_blocking, so a full ring only ever delays such a thread.
    bool push(Job* job) noexcept;
    // The oldest job, or nullptr when there is none ready.
    Job* pop() noexcept;
    // A snapshot.
    bool is_empty() const noexcept;

  private:
    // A cell's sequence says whose turn it is: equal to a position, the cell
    // is free for the producer of that position; one more, it holds the job
    // for the consumer of that position.
    struct Cell {
        std::atomic<std::size_t> sequence;
        Job* job;
    };

    std::size_t mask_;
    std::unique_ptr<Cell[]> cells_;
    alignas(64) std::atomic<std::size_t> enqueue_position_{0};
    alignas(64) std::atomic<std::size_t> dequeue_position_{0};
};

} // namespace talvora
