// tests/cpp/global_pool_test.cpp: the process-wide pool is made once, by the
// first of several racing threads, with the configured number of workers.
// Alone in its executable so that nothing else has made the pool before.
#include "entropy/entropy.h"
#include "pool/pool.h"

#include <gtest/gtest.h>

#include <barrier>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

namespace talvora {
namespace {

std::size_t thread_count() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

// A joined thread can linger in /proc for a moment after join returns.
std::size_t settled_thread_count(std::size_t expected) {
    std::size_t count = thread_count();
    for (int tries = 0; count != expected && tries < 200; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        count = thread_count();
    }
    return count;
}

TEST(GlobalPool, RacingFirstCallersShareOnePool) {
    ASSERT_EQ(setenv("RAYON_NUM_THREADS", "3", 1), 0);
    constexpr int RACERS = 6;
    std::barrier start(RACERS);
    std::vector<WorkerPool*> seen(RACERS);
    std::vector<std::size_t> counts(RACERS);
    std::vector<std::thread> racers;
    for (int r = 0; r < RACERS; ++r)
        racers.emplace_back([&, r] {
            start.arrive_and_wait();
            counts[r] = worker_count();
            seen[r] = &global_pool();
        });
    for (auto& racer : racers)
        racer.join();
    for (int r = 0; r < RACERS; ++r) {
        EXPECT_EQ(seen[r], seen[0]);
        EXPECT_EQ(counts[r], 3u);
    }
    // This thread and the workers; the racers have ended.
    const std::size_t with_pool = settled_thread_count(1 + 3);
    EXPECT_EQ(with_pool, 1 + 3u);

    // Parallel counts reuse the pool and start no threads.
    std::vector<std::uint8_t> bytes(PARALLEL_MIN_LEN * 3 + 5, 7);
    for (int round = 0; round < 3; ++round)
        EXPECT_EQ(count_bytes(bytes).counts[7], bytes.size());
    EXPECT_EQ(thread_count(), with_pool);
}

} // namespace
} // namespace talvora
