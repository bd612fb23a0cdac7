// src/tools/sp800_90b/parallel_tasks.cpp: a list of tasks split, where
// their costs balance, through the pool's join; a task's exception is kept
// (join must not see one) and rethrown once all are done. A stop skips the
// tasks not yet started: a running estimator is left to finish.
#include "tools/sp800_90b/parallel_tasks.h"

#include "pool/pool.h"

#include <exception>

namespace talvora::tools::sp800_90b {

namespace {

void run_range(WorkerPool& pool, const std::vector<Task>& tasks, const std::stop_token& stop,
               std::vector<std::exception_ptr>& errors, std::size_t begin, std::size_t end) {
    if (end - begin == 1) {
        if (stop.stop_requested()) return;
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
            run_range(pool, tasks, stop, errors, begin, mid);
            return true;
        },
        [&](bool) {
            run_range(pool, tasks, stop, errors, mid, end);
            return true;
        });
}

} // namespace

void run_tasks(const std::vector<Task>& tasks, const std::stop_token& stop) {
    if (tasks.empty()) return;
    std::vector<std::exception_ptr> errors(tasks.size());
    run_range(current_pool(), tasks, stop, errors, 0, tasks.size());
    if (stop.stop_requested()) throw TasksStopped{};
    for (const std::exception_ptr& error : errors)
        if (error) std::rethrow_exception(error);
}

} // namespace talvora::tools::sp800_90b
