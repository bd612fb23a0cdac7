// tests/cpp/pool_build_test.cpp: pools whose threads cannot all be started:
// the started ones stop, the error says why, and where threads are not
// supported at all the callers run the work themselves.
#include "pool/pool.h"

#include "threads_at_once.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>
#include <vector>

namespace talvora {
namespace {

// Starts real (joinable) threads, then fails with error from call fail_at on.
class FailingSpawner {
  public:
    FailingSpawner(std::size_t fail_at, int error) : fail_at_(fail_at), error_(error) {}
    ~FailingSpawner() { join_all(); }

    SpawnThread spawn() {
        return [this](ThreadEntry entry, void* argument) {
            if (threads_.size() == fail_at_) return error_;
            threads_.emplace_back(entry, argument);
            return 0;
        };
    }
    // Returns only once every started worker has ended: a worker that was
    // not told to stop hangs the test until its timeout.
    void join_all() {
        for (auto& thread : threads_)
            if (thread.joinable()) thread.join();
    }
    std::size_t started() const { return threads_.size(); }

  private:
    std::size_t fail_at_;
    int error_;
    std::vector<std::thread> threads_;
};

SizingInputs four_workers() {
    SizingInputs inputs = SizingInputs::of_this_process();
    inputs.environment = [](const char* name) -> std::optional<std::string> {
        if (std::string_view(name) == "RAYON_NUM_THREADS") return "4";
        return std::nullopt;
    };
    return inputs;
}

TEST(PoolBuild, FailureStopsTheStartedWorkersAndReportsTheError) {
    FailingSpawner spawner(2, EAGAIN);
    PoolBuildResult result = WorkerPool::build(4, spawner.spawn());
    EXPECT_EQ(result.pool, nullptr);
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->kind, ThreadPoolBuildError::Kind::IOError);
    EXPECT_EQ(result.error->os_error, EAGAIN);
    EXPECT_FALSE(result.error->is_unsupported());
    EXPECT_EQ(spawner.started(), 2u);
    spawner.join_all();
}

TEST(PoolBuild, GlobalCreationFailureMessage) {
    FailingSpawner spawner(1, EAGAIN);
    const PoolBuildResult result = create_global_pool(four_workers(), spawner.spawn());
    ASSERT_EQ(result.pool, nullptr);
    EXPECT_EQ(global_pool_failure_message(*result.error),
              "The global thread pool has not been initialized.: ThreadPoolBuildError { kind: "
              "IOError(Os { code: 11, message: \"Resource temporarily unavailable\" }) }");
}

class Unsupported : public testing::TestWithParam<int> {};

// The fallback pool has one worker and no thread; callers on several
// threads take turns running their work themselves.
TEST_P(Unsupported, FallsBackToAPoolWithoutThreads) {
    FailingSpawner spawner(1, GetParam());
    const PoolBuildResult result = create_global_pool(four_workers(), spawner.spawn());
    spawner.join_all(); // the one started worker was stopped
    ASSERT_NE(result.pool, nullptr);
    WorkerPool& pool = *result.pool;
    EXPECT_EQ(pool.worker_count(), 1u);
    std::atomic<int> wrong{0};
    on_threads_at_once(4, [&](int c) {
        for (int round = 0; round < 50; ++round) {
            const auto [a, b] = pool.join([&](bool m) { return std::pair(c, m); },
                                          [&](bool m) { return std::pair(round, m); });
            if (a != std::pair(c, true) || b != std::pair(round, true)) ++wrong;
            if (pool.run_blocking([] { return current_worker() != nullptr; }) != true) ++wrong;
        }
        if (current_worker() != nullptr) ++wrong; // the marker is given back
    });
    EXPECT_EQ(wrong.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Errors, Unsupported, testing::Values(ENOSYS, EOPNOTSUPP));

TEST(PoolBuild, NoFallbackWhenTheCreatorIsAWorker) {
    WorkerPool outer(1);
    FailingSpawner spawner(0, ENOSYS);
    const bool failed = outer.run_blocking(
        [&] { return create_global_pool(four_workers(), spawner.spawn()).pool == nullptr; });
    EXPECT_TRUE(failed);
}

} // namespace
} // namespace talvora
