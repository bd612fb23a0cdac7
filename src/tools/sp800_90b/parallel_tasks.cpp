// src/tools/sp800_90b/parallel_tasks.cpp: a list of tasks split, where
// their costs balance, through the pool's join; a task's exception is kept
// (join must not see one) and rethrown once all are done.
#include "tools/sp800_90b/parallel_tasks.h"

#include "pool/pool.h"

#include <exception>

namespace talvora::tools::sp800_90b {

namespace {

void run_range(WorkerPool& pool, const std::vector<Task>& tasks,
               std::vector<std::exception_ptr>& errors, std::size_t begin, std::size_t end) {
    if (end - begin == 1) {
        try {
            tasks[begin].run();
        } catch (...) {
            errors[begin] = std::current_exception();
        }
        return;
    }
    double total = 0;
    for (std::size_t i = begin; i < end; ++i)
        total += tasks[i].cost;
    // The first split point at which the left part holds half the cost,
    // leaving at least one task on each side.
    std::size_t mid = begin + 1;
    for (double left = tasks[begin].cost; mid + 1 < end && 2 * left < total; ++mid)
        left += tasks[mid].cost;
    pool.join(
        [&](bool) {
            run_range(pool, tasks, errors, begin, mid);
            return true;
        },
        [&](bool) {
            run_range(pool, tasks, errors, mid, end);
            return true;
        });
}

} // namespace

void run_tasks(const std::vector<Task>& tasks) {
    if (tasks.empty()) return;
    std::vector<std::exception_ptr> errors(tasks.size());
    run_range(current_pool(), tasks, errors, 0, tasks.size());
    for (const std::exception_ptr& error : errors)
        if (error) std::rethrow_exception(error);
}

} // namespace talvora::tools::sp800_90b
