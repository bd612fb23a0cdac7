// tests/cpp/pool_fatal_test.cpp: broken invariants of the pool and the
// chunking abort with their reports, on workers as on other threads.
#include "entropy/parallel_histogram.h"
#include "pool/pool.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace talvora
