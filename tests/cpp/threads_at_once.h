// tests/cpp/threads_at_once.h: runs a body on several threads that start
// together, so that they race for whatever they share.
#pragma once

#include <barrier>
#include <thread>
#include <vector>

namespace talvora {

// Runs body(i) for i in [0, count) on count new threads released at once,
// and returns when all have ended.
template <class Body> void on_threads_at_once(int count, Body body) {
    std::barrier start(count);
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            body(i);
        });
    for (std::thread& thread : threads)
        thread.join();
}

} // namespace talvora
