// tests/cpp/pool_build_test.cpp: pools whose threads cannot all be started
// count on the workers that did start, or, with none, on the callers
// themselves; the results are the same.
#include "pool/pool.h"

#include "threads_at_once.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>
#include <utility>
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

// The sum of 0..n-1 by nested joins, and whether every piece ran on a
// worker of pool.
std::pair<std::uint64_t, bool> join_sum(WorkerPool& pool, std::uint64_t begin, std::uint64_t end) {
    if (end - begin == 1) return {begin, current_worker() != nullptr};
    const std::uint64_t mid = begin + (end - begin) / 2;
    const auto [left, right] = pool.join([&](bool) { return join_sum(pool, begin, mid); },
                                         [&](bool) { return join_sum(pool, mid, end); });
    return {left.first + right.first, left.second && right.second};
}

// Joins and run_blocking from several threads give the right results, the
// migrated flags included, and hand the worker marker back.
void expect_working(WorkerPool& pool) {
    std::atomic<int> wrong{0};
    on_threads_at_once(4, [&](int c) {
        for (int round = 0; round < 30; ++round) {
            const auto [a, b] = pool.join([&](bool m) { return std::pair(c, m); },
                                          [&](bool m) { return std::pair(round, m); });
            if (a != std::pair(c, true) || b != std::pair(round, true)) ++wrong;
            const std::uint64_t n = 50 + c + round;
            if (join_sum(pool, 0, n) != std::pair(n * (n - 1) / 2, true)) ++wrong;
            if (pool.run_blocking([] { return current_worker() != nullptr; }) != true) ++wrong;
        }
        if (current_worker() != nullptr) ++wrong;
    });
    EXPECT_EQ(wrong.load(), 0);
}

// A limit (pids, address space) refuses threads with EAGAIN or ENOMEM; a
// system without threads with ENOSYS or EOPNOTSUPP.
class Refused : public testing::TestWithParam<int> {};

TEST_P(Refused, ThePoolKeepsTheWorkersThatStarted) {
    for (const std::size_t started : {1u, 2u}) {
        FailingSpawner spawner(started, GetParam());
        PoolBuildResult result = create_global_pool(four_workers(), spawner.spawn());
        ASSERT_NE(result.pool, nullptr);
        EXPECT_EQ(result.pool->worker_count(), started);
        EXPECT_EQ(spawner.started(), started);
        expect_working(*result.pool);
        result.pool.reset(); // stops exactly the started workers
        spawner.join_all();
    }
}

// The pool without threads has one worker and no thread; callers on
// several threads take turns running their work themselves.
TEST_P(Refused, WithNoWorkerStartedTheCallersDoTheWork) {
    FailingSpawner spawner(0, GetParam());
    const PoolBuildResult result = create_global_pool(four_workers(), spawner.spawn());
    ASSERT_NE(result.pool, nullptr);
    EXPECT_EQ(result.pool->worker_count(), 1u);
    EXPECT_EQ(spawner.started(), 0u);
    expect_working(*result.pool);
}

INSTANTIATE_TEST_SUITE_P(Errors, Refused, testing::Values(EAGAIN, ENOMEM, ENOSYS, EOPNOTSUPP));

// A worker of another pool cannot do this pool's work itself: with no
// thread at all there is no pool, and the fatal report says why.
TEST(PoolBuild, NoFallbackWhenTheCreatorIsAWorker) {
    WorkerPool outer(1);
    FailingSpawner spawner(0, EAGAIN);
    const std::optional<ThreadPoolBuildError> error = outer.run_blocking(
        [&] { return create_global_pool(four_workers(), spawner.spawn()).error; });
    ASSERT_TRUE(error);
    EXPECT_EQ(global_pool_failure_message(*error),
              "The global thread pool has not been initialized.: ThreadPoolBuildError { kind: "
              "IOError(Os { code: 11, message: \"Resource temporarily unavailable\" }) }");
}

} // namespace
} // namespace talvora
