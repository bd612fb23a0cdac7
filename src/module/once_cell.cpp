// src/module/once_cell.cpp: the slow path of InterpreterOnceCell.
#include "module/once_cell.h"

namespace talvora {
namespace {

// The address of a thread-local object names the running thread.
const void* this_thread_token() noexcept {
    static thread_local const char token = 0;
    return &token;
}

// The newest enlisted cell; each links to the one enlisted before it.
constinit std::atomic<InterpreterOnceCell*> newest_enlisted{nullptr};

} // namespace

void InterpreterOnceCell::enlist() noexcept {
    if (enlisted_.exchange(true, std::memory_order_relaxed)) return;
    next_enlisted_ = newest_enlisted.load(std::memory_order_relaxed);
    // Release pairs with the acquire load in forget_runners_lost_in_fork, so
    // that a cell is seen there with its link.
    while (!newest_enlisted.compare_exchange_weak(next_enlisted_, this, std::memory_order_release,
                                                  std::memory_order_relaxed)) {
    }
}

void InterpreterOnceCell::forget_runners_lost_in_fork() noexcept {
    for (InterpreterOnceCell* cell = newest_enlisted.load(std::memory_order_acquire);
         cell != nullptr; cell = cell->next_enlisted_) {
        // The forking thread, if it was filling a cell, goes on filling it.
        if (cell->state_.load(std::memory_order_relaxed) != RUNNING ||
            cell->runner_.load(std::memory_order_relaxed) == this_thread_token())
            continue;
        // Relaxed: the child has no other thread to order them for.
        cell->runner_.store(nullptr, std::memory_order_relaxed);
        cell->state_.store(EMPTY, std::memory_order_relaxed);
    }
}

PyResult<PyObject*> InterpreterOnceCell::initialize(Run run, void* initializer) noexcept {
    // The runner reads its own cell from inside its initialiser: waiting
    // would wait for itself forever, so it runs the initialiser once more.
    if (state_.load(std::memory_order_acquire) == RUNNING &&
        runner_.load(std::memory_order_relaxed) == this_thread_token())
        return store(run(initializer), /*nested=*/true);
    // Enlisted before it can be RUNNING, so no fork finds it RUNNING unlisted.
    enlist();
    // Wait detached, so that the thread running the initialiser can attach
    // even where the interpreter lets only one thread run at a time.
    const Detachment detachment = detach();
    for (int seen = state_.load(std::memory_order_acquire);;
         seen = state_.load(std::memory_order_acquire)) {
        if (seen == FILLED) {
            reattach(detachment);
            return value_;
        }
        if (seen == RUNNING) {
            state_.wait(RUNNING, std::memory_order_acquire);
            continue;
        }
        // The acquire loads and exchanges here pair with the release stores
        // of store(): a reader that sees FILLED sees value_, and a runner
        // that follows a failed one sees the cell as that one left it.
        if (state_.compare_exchange_strong(seen, RUNNING, std::memory_order_acquire)) break;
    }
    runner_.store(this_thread_token(), std::memory_order_relaxed);
    reattach(detachment);
    return store(run(initializer), /*nested=*/false);
}

// Stores a successful result unless a nested run stored one first (then the
// later value is released and the stored one returned). A failure of the
// outermost run empties the cell for the next reader; a nested failure leaves
// the outer run in charge.
PyResult<PyObject*> InterpreterOnceCell::store(PyResult<PyRef> result, bool nested) noexcept {
    if (state_.load(std::memory_order_acquire) == FILLED) {
        if (!result.ok()) return result.take_error();
        return value_;
    }
    if (!result.ok()) {
        if (!nested) {
            runner_.store(nullptr, std::memory_order_relaxed);
            state_.store(EMPTY, std::memory_order_release);
            state_.notify_all();
        }
        return result.take_error();
    }
    value_ = result.value().release();
    runner_.store(nullptr, std::memory_order_relaxed);
    state_.store(FILLED, std::memory_order_release);
    state_.notify_all();
    return value_;
}

} // namespace talvora
