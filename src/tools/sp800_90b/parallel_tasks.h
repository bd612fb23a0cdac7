// src/tools/sp800_90b/parallel_tasks.h: independent tasks run on the worker
// pool, each writing its own result, so the outcome does not depend on how
// many workers there are or which ran what.
#pragma once

#include <functional>
#include <stop_token>
#include <vector>

namespace talvora::tools::sp800_90b {

struct Task {
    std::function<void()> run;
    double cost = 1; // relative, for splitting the list into even halves
};

// Thrown by run_tasks when a stop was requested before every task ran.
struct TasksStopped {};

// Runs every task, possibly at the same time; then rethrows the exception
// of the first task (in list order) that threw, if any. Once stop is
// requested, tasks not yet started are skipped and TasksStopped is thrown.
void run_tasks(const std::vector<Task>& tasks, const std::stop_token& stop = {});

} // namespace talvora::tools::sp800_90b
