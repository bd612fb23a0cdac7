// src/module/once_cell.cpp: the slow path of InterpreterOnceCell.
#include "module/once_cell.h"

namespace talvora {

PyResult<PyObject*> InterpreterOnceCell::initialize(Run run, void* initializer) noexcept {
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
        if (state_.compare_exchange_strong(seen, RUNNING, std::memory_order_acquire)) break;
    }
    reattach(detachment);
    PyResult<PyRef> result = run(initializer);
    if (!result.ok()) {
        state_.store(EMPTY, std::memory_order_release);
        state_.notify_all();
        return result.take_error();
    }
    value_ = result.value().release();
    state_.store(FILLED, std::memory_order_release);
    state_.notify_all();
    return value_;
}

} // namespace talvora
