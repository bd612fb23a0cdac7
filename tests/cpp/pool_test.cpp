// tests/cpp/pool_test.cpp: join and run_blocking on pools of several sizes:
// results, migrated flags, nesting, many callers, and sleeping workers.
#include "pool/pool.h"

#include "threads_at_once.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>

namespace talvora {
namespace {

using namespace std::chrono_literals;

// Sum of [begin, end) by recursive joins down to single numbers.
std::uint64_t join_sum(WorkerPool& pool, std::uint64_t begin, std::uint64_t end) {
    if (end - begin == 1) return begin;
    const std::uint64_t mid = begin + (end - begin) / 2;
    const auto [left, right] = pool.join([&](bool) { return join_sum(pool, begin, mid); },
                                         [&](bool) { return join_sum(pool, mid, end); });
    return left + right;
}

class PoolSizes : public testing::TestWithParam<std::size_t> {};

TEST_P(PoolSizes, RunBlockingRunsOnAWorkerAndReturnsTheResult) {
    WorkerPool pool(GetParam());
    EXPECT_EQ(pool.worker_count(), GetParam());
    const auto caller = std::this_thread::get_id();
    for (int i = 0; i < 20; ++i) {
        const auto [value, on_worker, thread] = pool.run_blocking([&] {
            return std::tuple(i * 3, current_worker() != nullptr, std::this_thread::get_id());
        });
        EXPECT_EQ(value, i * 3);
        EXPECT_TRUE(on_worker);
        EXPECT_NE(thread, caller);
    }
    EXPECT_EQ(current_worker(), nullptr);
}

TEST_P(PoolSizes, NestedJoinsAddUp) {
    WorkerPool pool(GetParam());
    for (const std::uint64_t n : {1u, 2u, 3u, 1000u, 4097u})
        EXPECT_EQ(join_sum(pool, 0, n), n * (n - 1) / 2) << n;
}

TEST_P(PoolSizes, ManyCallersAtOnce) {
    WorkerPool pool(GetParam());
    std::atomic<int> wrong{0};
    on_threads_at_once(6, [&](int c) {
        for (std::uint64_t round = 0; round < 30; ++round) {
            const std::uint64_t n = 100 + 37 * c + round;
            if (join_sum(pool, 0, n) != n * (n - 1) / 2) ++wrong;
            if (pool.run_blocking([&] { return n; }) != n) ++wrong;
        }
    });
    EXPECT_EQ(wrong.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Workers, PoolSizes, testing::Values(1, 2, 3, 8));

TEST(Migrated, JoinFromOutsideRunsBothMigrated) {
    for (const std::size_t workers : {1u, 4u}) {
        WorkerPool pool(workers);
        const auto [a, b] = pool.join([](bool m) { return m; }, [](bool m) { return m; });
        EXPECT_TRUE(a);
        EXPECT_TRUE(b);
    }
}

TEST(Migrated, AJoinInARunBlockingOperationRunsAMigratedAndJoinsInItsTasksDoNot) {
    WorkerPool pool(1); // nobody to steal: every b is kept and carries a's flag
    const auto flag = [](bool m) { return m; };
    const auto flags = pool.run_blocking([&] {
        const auto [a, b] = pool.join(flag, flag);
        const auto [nested, unused] = pool.join([&](bool) { return pool.join(flag, flag); }, flag);
        const auto [a_again, b_again] = pool.join(flag, flag);
        return std::tuple(a, b, nested.first, nested.second, a_again, b_again);
    });
    EXPECT_EQ(flags, std::tuple(true, true, false, false, true, true));
}

// a waits until b has started, so b can only have run on another worker. The
// join runs inside a task, where a is not migrated.
TEST(Migrated, StolenBIsMigrated) {
    WorkerPool pool(2);
    for (int round = 0; round < 20; ++round) {
        std::atomic<bool> b_started{false};
        const auto stolen_join = [&](bool) {
            return pool.join(
                [&](bool m) {
                    while (!b_started.load())
                        std::this_thread::yield();
                    return std::pair(m, std::this_thread::get_id());
                },
                [&](bool m) {
                    b_started = true;
                    return std::pair(m, std::this_thread::get_id());
                });
        };
        const auto [a, b] = pool.join(stolen_join, [](bool) { return 0; }).first;
        EXPECT_FALSE(a.first);
        EXPECT_TRUE(b.first);
        EXPECT_NE(a.second, b.second);
    }
}

// A search visits only some of a large pool's workers, yet a worker woken for
// a job finds it: a waits until b has started, which only a thief can do (if
// none comes, a gives up after a while and the test fails rather than hangs).
TEST(Migrated, InAPoolLargerThanOneSearchReachesAThiefFindsB) {
    WorkerPool pool(64 * STEAL_VICTIMS_PER_PASS);
    for (int round = 0; round < 20; ++round) {
        std::atomic<bool> b_started{false};
        const auto wait_for_b = [&](bool) {
            const auto deadline = std::chrono::steady_clock::now() + 5s;
            while (!b_started.load() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
            return b_started.load();
        };
        const auto start_b = [&](bool) { return b_started = true; };
        const auto [found, unused] =
            pool.run_blocking([&] { return pool.join(wait_for_b, start_b); });
        EXPECT_TRUE(found) << "round " << round;
    }
}

// The owner of a join finds b stolen and runs out of work; it must go to
// sleep and be woken by b's thief, not by luck.
TEST(Sleeping, OwnerWaitingForAStolenTaskIsWoken) {
    WorkerPool pool(2);
    for (int round = 0; round < 10; ++round) {
        std::atomic<bool> b_started{false};
        const auto [a, b] = pool.run_blocking([&] {
            return pool.join(
                [&](bool) {
                    while (!b_started.load())
                        std::this_thread::yield();
                    return 1;
                },
                [&](bool) {
                    b_started = true;
                    std::this_thread::sleep_for(20ms); // the owner falls asleep meanwhile
                    return 2;
                });
        });
        EXPECT_EQ(a + b, 3);
    }
}

// Calls spaced so that every worker falls asleep in between: each must be
// picked up again (a lost wake-up hangs and the test times out).
TEST(Sleeping, WorkersAsleepAreWokenByNewJobs) {
    WorkerPool pool(3);
    for (int round = 0; round < 30; ++round) {
        EXPECT_EQ(join_sum(pool, 0, 64), 64u * 63 / 2);
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 3 * 5));
    }
}

char task_state(const std::filesystem::path& task) {
    std::ifstream stat(task / "stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const auto close = text.rfind(')'); // the name may hold blanks
    return close == std::string::npos || close + 2 >= text.size() ? '?' : text[close + 2];
}

TEST(Sleeping, IdleWorkersSleepInTheKernel) {
    WorkerPool pool(3);
    EXPECT_EQ(join_sum(pool, 0, 1000), 1000u * 999 / 2);
    const std::string self = std::to_string(gettid());
    int running = -1;
    for (auto deadline = std::chrono::steady_clock::now() + 10s;
         running != 0 && std::chrono::steady_clock::now() < deadline;) {
        std::this_thread::sleep_for(20ms);
        running = 0;
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
            if (task.path().filename() != self && task_state(task.path()) == 'R') ++running;
    }
    EXPECT_EQ(running, 0) << "workers still spinning after the pool went idle";
}

} // namespace
} // namespace talvora
