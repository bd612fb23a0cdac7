// tests/cpp/pool_fork_test.cpp: the tests that fork: broken invariants of
// the pool and the chunking abort with their reports, on workers as on other
// threads; and a forked child gets a pool of its own.
#include "entropy/parallel_histogram.h"
#include "pool/pool.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace talvora {
namespace {

TEST(PoolFatal, ZeroChunkLength) {
    const std::vector<std::uint8_t> bytes(10);
    EXPECT_DEATH(ChunkRange(bytes, 0), "chunk size must be non-zero");
}

TEST(PoolFatal, InjectedJobRunOffAWorker) {
    EXPECT_DEATH(
        {
            WorkerPool pool(1);
            CallerLatch latch;
            auto operation = [](Worker&, bool) { return 0; };
            InjectedJob<decltype(operation)> job(operation, latch);
            pool.worker(0).execute(&job); // on this thread, which is no worker
        },
        "assertion failed: injected && !worker_thread.is_null\\(\\)");
}

TEST(PoolFatal, ResultTakenBeforeTheTaskRan) {
    EXPECT_DEATH(JobResult<int>().take(), "internal error: entered unreachable code");
}

TEST(PoolFatal, MarkedAsAWorkerTwice) {
    EXPECT_DEATH(
        {
            WorkerPool pool(1);
            enter_worker(pool.worker(0));
            enter_worker(pool.worker(0));
        },
        "made a pool worker twice");
}

TEST(PoolFatal, WorkersAreNamedUnnamedInReports) {
    EXPECT_DEATH(
        {
            WorkerPool pool(2);
            pool.run_blocking([]() -> int { fatal_failure("boom on a worker"); });
        },
        "thread '<unnamed>'.*\n.*boom on a worker");
}

TEST(PoolFork, ChildCountsOnAPoolOfItsOwn) {
    const std::vector<std::uint8_t> bytes(PARALLEL_MIN_LEN * 4 + 1, 9);
    ASSERT_EQ(count_bytes(bytes).counts[9], bytes.size()); // the parent's pool exists
    WorkerPool* parent_pool = &global_pool();
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        // With the parent's workers gone, a count on the inherited pool
        // would never finish (and the test would time out).
        const bool counted = count_bytes(bytes).counts[9] == bytes.size();
        const bool fresh = &global_pool() != parent_pool;
        _exit(counted && fresh ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(count_bytes(bytes).counts[9], bytes.size()); // the parent's pool still works
}

} // namespace
} // namespace talvora
