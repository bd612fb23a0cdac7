// src/tools/files/background_task.cpp: the helper thread of BackgroundTask.
#include "tools/files/background_task.h"

#include <system_error>

namespace talvora::tools {

BackgroundTask::BackgroundTask() {
    try {
        thread_ = std::thread([this] { loop(); });
    } catch (const std::system_error&) {
        // Out of threads (a limit, low memory): the caller does the work.
    }
}

BackgroundTask::~BackgroundTask() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void BackgroundTask::start(std::function<void()> task) {
    if (!thread_.joinable()) {
        task();
        return;
    }
    {
        std::lock_guard lock(mutex_);
        task_ = std::move(task);
    }
    changed_.notify_all();
}

void BackgroundTask::wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !task_; });
}

void BackgroundTask::loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return task_ || closing_; });
        if (!task_) return;
        lock.unlock();
        task_();
        lock.lock();
        task_ = nullptr;
        changed_.notify_all();
    }
}

} // namespace talvora::tools
