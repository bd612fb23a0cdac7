// tests/cpp/pool_fork_test.cpp: the tests that fork: broken invariants and
// preconditions of the pool and the chunking abort with their reports, on
// workers as on other threads; and a forked child gets a pool of its own.
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

// Reports name the source relative to the repository, not to wherever the
// build machine kept it.
TEST(PoolFatal, ReportsNameTheSourceWithinTheRepository) {
    EXPECT_DEATH(JobResult<int>().take(), "hit a fatal failure at src/pool/job.h:[0-9]+:[0-9]+ ");
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

// Preconditions that debug builds check.
class PoolPrecondition : public testing::Test {
  protected:
    void SetUp() override {
#ifdef NDEBUG
        GTEST_SKIP() << "release builds do not check preconditions";
#endif
    }
};

TEST_F(PoolPrecondition, OnlyTheWorkersOwnThreadPushesAndTakes) {
    EXPECT_DEATH(
        {
            WorkerPool pool(1);
            Job job{};
            pool.worker(0).push(&job); // on this thread, which is no worker
        },
        "debug assertion failed: is_current\\(\\)");
    EXPECT_DEATH(
        {
            WorkerPool pool(1);
            pool.worker(0).take_local();
        },
        "debug assertion failed: is_current\\(\\)");
}

TEST_F(PoolPrecondition, OnlyTheHolderOfTheMutexTouchesAGuardedValue) {
    EXPECT_DEATH(
        {
            Guarded<int> value;
            const Guarded<int>::Lock not_held;
            ++value.get(not_held);
        },
        "debug assertion failed: held.owns_lock\\(\\)");
}

TEST_F(PoolPrecondition, AWaiterWakesOnlyFromSleep) {
    CoreLatch set;
    set.set();
    set.wake_up(); // the latch was set while its waiter slept: fine
    EXPECT_DEATH(CoreLatch().wake_up(), "debug assertion failed: moved \\|\\| seen == SET");
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
