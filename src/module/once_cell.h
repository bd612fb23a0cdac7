// src/module/once_cell.h: InterpreterOnceCell, a process-wide slot filled once
// by an initialiser that runs attached while other threads wait detached.
// Every cell is a static object: it lives as long as the process.
#pragma once

#include <Python.h>

#include <atomic>
#include <cassert>
#include <type_traits>

#include "module/errors.h"

namespace talvora {

class InterpreterOnceCell {
  public:
    constexpr InterpreterOnceCell() = default;
    InterpreterOnceCell(const InterpreterOnceCell&) = delete;
    InterpreterOnceCell& operator=(const InterpreterOnceCell&) = delete;

    // The stored object (borrowed; filled cells are never emptied), filling
    // the cell with `initializer`, a callable returning PyResult<PyRef>, if
    // it is empty. A failed initialiser leaves the cell empty and its error
    // is the result; the next reader tries again. Called and returns
    // attached. An initialiser that reads its own cell (user code can run
    // inside an import) runs the initialiser again instead of waiting for
    // itself; the first value stored wins and later ones are released.
    template <class Initializer>
    PyResult<PyObject*> get_or_init(Initializer&& initializer) noexcept {
        // Pairs with the release store of FILLED in store().
        if (state_.load(std::memory_order_acquire) == FILLED) return value_;
        assert(attach_count > 0 && PyGILState_Check());
        using Callable = std::remove_reference_t<Initializer>;
        return initialize(
            [](void* callable) -> PyResult<PyRef> { return (*static_cast<Callable*>(callable))(); },
            &initializer);
    }

    // In the child of a fork, where only the forking thread lives: empties
    // every cell that another thread was filling, so that the child can
    // fill it itself instead of waiting for a thread it does not have.
    static void forget_runners_lost_in_fork() noexcept;

  private:
    enum : int { EMPTY = 0, RUNNING = 1, FILLED = 2 };
    using Run = PyResult<PyRef> (*)(void* initializer);

    PyResult<PyObject*> initialize(Run run, void* initializer) noexcept;
    PyResult<PyObject*> store(PyResult<PyRef> result, bool nested) noexcept;
    // Links the cell into the list a fork goes through, once.
    void enlist() noexcept;

    std::atomic<int> state_{EMPTY};
    // Identifies the thread running the initialiser while the state is RUNNING.
    std::atomic<const void*> runner_{nullptr};
    PyObject* value_ = nullptr;
    // The list of cells that have started filling: whether this one is in
    // it, and the one enlisted before it.
    std::atomic<bool> enlisted_{false};
    InterpreterOnceCell* next_enlisted_ = nullptr;
};

} // namespace talvora
