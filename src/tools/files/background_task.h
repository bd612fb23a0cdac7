// src/tools/files/background_task.h: one task at a time on a thread of its
// own, so the caller can go on (reading the next block) meanwhile.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace talvora::tools {

class BackgroundTask {
  public:
    // Starts the thread; where none can be started, tasks run in start().
    BackgroundTask();
    BackgroundTask(const BackgroundTask&) = delete;
    BackgroundTask& operator=(const BackgroundTask&) = delete;
    // Waits for the task in hand, then ends the thread.
    ~BackgroundTask();

    // Hands over task; the previous one must have been waited for.
    void start(std::function<void()> task);
    // Returns once the task handed over last has run.
    void wait();

  private:
    void loop();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> task_; // guarded by mutex_; empty when idle
    bool closing_ = false;       // guarded by mutex_
    std::thread thread_;
};

} // namespace talvora::tools
