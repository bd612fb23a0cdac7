// src/pool/job.h: what the queues carry: a pointer to a task record that
// lives in the frame of the thread that created it.
#pragma once

#include "module/fatal.h"

#include <optional>
#include <utility>

namespace talvora {

class Worker;

// The common head of every task record. The creator does not return before
// the job has run, so a queue only ever holds a pointer to a live record.
struct Job {
    // Runs the task on runner, stores its result and sets its latch; after
    // the latch is set the record may be gone, so nothing touches it.
    using Execute = void (*)(Job* job, Worker& runner) noexcept;
    Execute execute;
};

// The value a task returned, empty until it has run.
template <class R> class JobResult {
  public:
    template <class Task> void run(Task&& task) { value_.emplace(std::forward<Task>(task)()); }

    // Called once the job's latch is set; an empty result then means the
    // latch was set without the task having run.
    R take() noexcept {
        if (!value_) fatal_failure("internal error: entered unreachable code");
        return std::move(*value_);
    }

  private:
    std::optional<R> value_;
};

} // namespace talvora
