// tests/cpp/global_pool_test.cpp: the process-wide pool is made once, by the
// first of several racing threads, with the configured number of workers.
// Alone in its executable so that nothing else has made the pool before.
#include "entropy/entropy.h"
#include "pool/pool.h"

#include "threads_at_once.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace talvora {
namespace {

std::set<std::string> threads() {
    std::set<std::string> ids;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        ids.insert(task.path().filename());
    return ids;
}

// The threads started since before. A joined thread can linger in /proc
// for a moment after join returns, so this waits for the count to settle.
std::size_t threads_since(const std::set<std::string>& before, std::size_t expected) {
    std::size_t count = 0;
    for (int tries = 0; tries < 200; ++tries) {
        const std::set<std::string> now = threads();
        count = std::count_if(now.begin(), now.end(), [&](auto& id) { return !before.count(id); });
        if (count == expected) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return count;
}

TEST(GlobalPool, RacingFirstCallersShareOnePool) {
    ASSERT_EQ(setenv("RAYON_NUM_THREADS", "3", 1), 0);
    // ThreadSanitizer starts a thread of its own with the first new thread.
    std::thread([] {}).join();
    const std::set<std::string> before = threads();
    constexpr int RACERS = 6;
    std::vector<WorkerPool*> seen(RACERS);
    std::vector<std::size_t> counts(RACERS);
    on_threads_at_once(RACERS, [&](int r) {
        counts[r] = current_pool().worker_count();
        seen[r] = &global_pool();
    });
    for (int r = 0; r < RACERS; ++r) {
        EXPECT_EQ(seen[r], seen[0]);
        EXPECT_EQ(counts[r], 3u);
    }
    EXPECT_EQ(threads_since(before, 3), 3u); // the workers; the racers have ended

    // Parallel counts reuse the pool and start no threads.
    std::vector<std::uint8_t> bytes(PARALLEL_MIN_LEN * 3 + 5, 7);
    for (int round = 0; round < 3; ++round)
        EXPECT_EQ(count_bytes(bytes).counts[7], bytes.size());
    EXPECT_EQ(threads_since(before, 3), 3u);
}

} // namespace
} // namespace talvora
