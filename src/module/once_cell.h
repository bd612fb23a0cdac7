// src/module/once_cell.h: InterpreterOnceCell, a process-wide slot filled once
// by an initialiser that runs attached while other threads wait detached.
#pragma once

#include <Python.h>

#include <atomic>
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
        if (state_.load(std::memory_order_acquire) == FILLED) return value_;
        using Callable = std::remove_reference_t<Initializer>;
        return initialize(
            [](void* callable) -> PyResult<PyRef> { return (*static_cast<Callable*>(callable))(); },
            &initializer);
    }

  private:
    enum : int { EMPTY = 0, RUNNING = 1, FILLED = 2 };
    using Run = PyResult<PyRef> (*)(void* initializer);

    PyResult<PyObject*> initialize(Run run, void* initializer) noexcept;
    PyResult<PyObject*> store(PyResult<PyRef> result, bool nested) noexcept;

    std::atomic<int> state_{EMPTY};
    // Identifies the thread running the initialiser while the state is RUNNING.
    std::atomic<const void*> runner_{nullptr};
    PyObject* value_ = nullptr;
};

} // namespace talvora
