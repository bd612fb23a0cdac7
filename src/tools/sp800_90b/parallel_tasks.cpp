// src/tools/sp800_90b/parallel_tasks.cpp: a list of tasks split in halves
// through the pool's join; a task's exception is kept (join must not see
// one) and rethrown once all are done.
#include "tools/sp800_90b/parallel_tasks.h"

#include "pool/pool.h"

#include <exception>

namespace talvora::tools::sp800_90b {

namespace {

void run_range(WorkerPool& pool, const std::vector<std::function<void()>>& tasks,
               std::vector<std::exception_ptr>& errors, std::size_t begin, std::size_t end) {
    if (end - begin == 1) {
        try {
            tasks[begin]();
        } catch (...) {
            errors[begin] = std::current_exception();
        }
        return;
    }
    const std::size_t mid = begin + (end - begin) / 2;
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

void run_tasks(const std::vector<std::function<void()>>& tasks) {
    if (tasks.empty()) return;
    std::vector<std::exception_ptr> errors(tasks.size());
    run_range(current_pool(), tasks, errors, 0, tasks.size());
    for (const std::exception_ptr& error : errors)
        if (error) std::rethrow_exception(error);
}

} // namespace talvora::tools::sp800_90b
