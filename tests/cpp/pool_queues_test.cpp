// tests/cpp/pool_queues_test.cpp: the worker deque and the injection ring,
// alone and under contention: every job is taken exactly once.
#include "pool/injector.h"
#include "pool/job.h"
#include "pool/job_deque.h"

#include "threads_at_once.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace talvora {
namespace {

// Jobs are only compared by address here; they never run.
struct Jobs {
    explicit Jobs(std::size_t n) : records(n), taken(n) {}
    Job* at(std::size_t i) { return &records[i]; }
    void take(Job* job) { taken[static_cast<std::size_t>(job - records.data())]++; }
    std::vector<Job> records;
    std::vector<std::atomic<int>> taken;
};

TEST(JobDeque, OwnerTakesNewestThievesOldest) {
    Jobs jobs(3);
    JobDeque deque;
    EXPECT_TRUE(deque.is_empty());
    for (std::size_t i = 0; i < 3; ++i)
        deque.push(jobs.at(i));
    EXPECT_FALSE(deque.is_empty());
    const JobDeque::Stolen stolen = deque.steal();
    EXPECT_EQ(stolen.status, JobDeque::Stolen::TAKEN);
    EXPECT_EQ(stolen.job, jobs.at(0));
    EXPECT_EQ(deque.pop(), jobs.at(2));
    EXPECT_EQ(deque.pop(), jobs.at(1));
    EXPECT_EQ(deque.pop(), nullptr);
    EXPECT_EQ(deque.steal().status, JobDeque::Stolen::EMPTY);
    EXPECT_TRUE(deque.is_empty());
}

TEST(JobDeque, GrowsPastItsCapacityKeepingOrder) {
    Jobs jobs(100);
    JobDeque deque(2);
    for (std::size_t i = 0; i < 100; ++i)
        deque.push(jobs.at(i));
    EXPECT_EQ(deque.steal().job, jobs.at(0));
    for (std::size_t i = 99; i >= 1; --i)
        ASSERT_EQ(deque.pop(), jobs.at(i));
    EXPECT_EQ(deque.pop(), nullptr);
}

TEST(JobDeque, EachJobTakenOnceUnderStealing) {
    constexpr std::size_t N = 20'000;
    constexpr int THIEVES = 4;
    Jobs jobs(N);
    JobDeque deque(4); // small, so it grows while thieves read it
    std::atomic<bool> done{false};
    std::vector<std::thread> thieves;
    for (int t = 0; t < THIEVES; ++t)
        thieves.emplace_back([&] {
            while (!done.load()) {
                const JobDeque::Stolen stolen = deque.steal();
                if (stolen.status == JobDeque::Stolen::TAKEN) jobs.take(stolen.job);
            }
        });
    for (std::size_t i = 0; i < N; ++i) {
        deque.push(jobs.at(i));
        if (i % 3 == 0)
            if (Job* job = deque.pop()) jobs.take(job);
    }
    while (Job* job = deque.pop())
        jobs.take(job);
    done = true;
    for (auto& thief : thieves)
        thief.join();
    while (deque.steal().status == JobDeque::Stolen::TAKEN)
        ADD_FAILURE() << "job left behind";
    for (std::size_t i = 0; i < N; ++i)
        ASSERT_EQ(jobs.taken[i].load(), 1) << "job " << i;
}

// The owner pushes one job and pops it back a moment later while thieves
// steal without pause, so pops race thieves for the deque's last job; where
// both have seen it, only their race on top decides, and the loser must come
// away empty-handed. The owner's varying pause lets the two meet at every
// point of a steal. Rounds go on until the thieves have won many of them, or
// up to a cap on a machine too busy to run them alongside the owner.
TEST(JobDeque, OwnerAndThievesRacingForTheLastJobTakeItOnce) {
    constexpr std::size_t ENOUGH_STEALS = 5'000, MAX_ROUNDS = 20'000'000;
    Job job{};
    JobDeque deque;
    std::atomic<bool> done{false};
    std::atomic<std::size_t> stolen{0};
    std::vector<std::thread> thieves;
    for (int t = 0; t < 2; ++t)
        thieves.emplace_back([&] {
            while (!done.load())
                if (deque.steal().status == JobDeque::Stolen::TAKEN) ++stolen;
        });
    std::size_t pushed = 0, popped = 0;
    while (stolen.load() < ENOUGH_STEALS && pushed < MAX_ROUNDS) {
        deque.push(&job);
        ++pushed;
        for (volatile std::size_t pause = pushed % 128; pause > 0; pause = pause - 1)
            ;
        popped += deque.pop() != nullptr;
    }
    done = true;
    for (auto& thief : thieves)
        thief.join();
    EXPECT_EQ(popped + stolen.load(), pushed) << stolen.load() << " stolen";
}

TEST(Injector, FirstInFirstOutAndBounded) {
    Jobs jobs(5);
    Injector ring(4);
    EXPECT_TRUE(ring.is_empty());
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_TRUE(ring.push(jobs.at(i)));
    EXPECT_FALSE(ring.push(jobs.at(4)));
    EXPECT_EQ(ring.pop(), jobs.at(0));
    EXPECT_TRUE(ring.push(jobs.at(4)));
    for (std::size_t i = 1; i < 5; ++i)
        EXPECT_EQ(ring.pop(), jobs.at(i));
    EXPECT_EQ(ring.pop(), nullptr);
    EXPECT_TRUE(ring.is_empty());
}

TEST(Injector, EachJobTakenOnceAcrossManyThreads) {
    constexpr std::size_t PER_PRODUCER = 5'000;
    constexpr int PRODUCERS = 3, CONSUMERS = 3;
    Jobs jobs(PER_PRODUCER * PRODUCERS);
    Injector ring(8); // wraps many times
    std::atomic<std::size_t> consumed{0};
    on_threads_at_once(PRODUCERS + CONSUMERS, [&](int i) {
        if (i < PRODUCERS) {
            for (std::size_t j = 0; j < PER_PRODUCER; ++j)
                while (!ring.push(jobs.at(static_cast<std::size_t>(i) * PER_PRODUCER + j)))
                    std::this_thread::yield();
            return;
        }
        while (consumed.load() < jobs.records.size()) {
            if (Job* job = ring.pop()) {
                jobs.take(job);
                ++consumed;
            }
        }
    });
    for (std::size_t i = 0; i < jobs.records.size(); ++i)
        ASSERT_EQ(jobs.taken[i].load(), 1) << "job " << i;
}

} // namespace
} // namespace talvora
