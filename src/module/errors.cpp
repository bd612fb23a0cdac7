// src/module/errors.cpp: PyErrValue and the operations that raise, fetch and
// normalise it.
#include "module/errors.h"

#include <atomic>

#include "module/caches.h"

namespace talvora {
namespace {

// States of a value's normalisation once-guard.
enum : int { NOT_NORMALIZED = 0, NORMALIZING = 1, NORMALIZED = 2 };

template <class T> std::unique_ptr<T> make_owned() noexcept {
    T* object = new (std::nothrow) T{};
    if (object == nullptr) fatal_failure("memory allocation failed");
    return std::unique_ptr<T>(object);
}

} // namespace

PyErrValue::PyErrValue(Form form, bool starts_normalized) noexcept : state_(make_owned<State>()) {
    state_->form = std::move(form);
    state_->once.store(starts_normalized ? NORMALIZED : NOT_NORMALIZED, std::memory_order_relaxed);
}

PyErrValue::~PyErrValue() = default;

PyErrValue PyErrValue::lazy(ErrorProducer producer) noexcept {
    return PyErrValue(Form(std::in_place_type<ErrorProducer>, std::move(producer)), false);
}

PyErrValue PyErrValue::normalized(PyRef exception) noexcept {
    return PyErrValue(Form(std::in_place_type<PyRef>, std::move(exception)), true);
}

PyErrValue type_error(Text message) noexcept {
    return PyErrValue::lazy(ErrorProducer::owned_message(PyExc_TypeError, std::move(message)));
}

PyErrValue overflow_error(Text message) noexcept {
    return PyErrValue::lazy(ErrorProducer::owned_message(PyExc_OverflowError, std::move(message)));
}

PyErrValue type_mismatch_error(PyObject* object, PyObject* expected) noexcept {
    return PyErrValue::lazy(
        ErrorProducer::type_mismatch(PyRef::borrow(object), PyRef::borrow(expected)));
}

void restore_error(PyErrValue error) noexcept {
    PyErrValue::Form form;
    if (error.state_) form = std::exchange(error.state_->form, std::monostate{});
    if (auto* producer = std::get_if<ErrorProducer>(&form))
        raise_lazy(std::move(*producer));
    else if (auto* exception = std::get_if<PyRef>(&form))
        PyErr_SetRaisedException(exception->release());
    else
        fatal_failure("PyErr state should never be invalid outside of normalization");
}

void raise_lazy(ErrorProducer producer) noexcept {
    auto [type, argument] = std::move(producer).produce();
    if (PyExceptionClass_Check(type.get()))
        PyErr_SetObject(type.get(), argument.get());
    else
        PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
    argument.reset();
    type.reset();
}

std::optional<PyErrValue> take_error() noexcept {
    PyRef exception = PyRef::steal(PyErr_GetRaisedException());
    if (!exception) return std::nullopt;
    // Only the exact type: a subclass of PanicException is an ordinary error.
    if (Py_TYPE(exception.get()) == reinterpret_cast<PyTypeObject*>(panic_exception_type()))
        resume_fatal_from_python(std::move(exception));
    return PyErrValue::normalized(std::move(exception));
}

PyErrValue fetch_error() noexcept {
    if (std::optional<PyErrValue> error = take_error()) return std::move(*error);
    return PyErrValue::lazy(ErrorProducer::static_message(
        PyExc_SystemError, "attempted to fetch exception but none was set"));
}

PyObject* normalize_error(PyErrValue& error) noexcept {
    if (!error.state_)
        fatal_failure("PyErr state should never be invalid outside of normalization");
    PyErrValue::State& state = *error.state_;
    {
        std::lock_guard lock(state.mutex);
        if (state.normalizing_thread == std::this_thread::get_id())
            fatal_failure("Re-entrant normalization of PyErrState detected");
    }
    if (state.once.load(std::memory_order_acquire) != NORMALIZED) {
        // Raising may run Python code of other threads' making; wait for a
        // concurrent normaliser without holding the interpreter.
        const Detachment detachment = detach();
        for (int seen = state.once.load(std::memory_order_acquire); seen != NORMALIZED;
             seen = state.once.load(std::memory_order_acquire)) {
            if (seen == NORMALIZING) {
                state.once.wait(NORMALIZING, std::memory_order_acquire);
                continue;
            }
            if (!state.once.compare_exchange_strong(seen, NORMALIZING, std::memory_order_acquire))
                continue;
            {
                std::lock_guard lock(state.mutex);
                state.normalizing_thread = std::this_thread::get_id();
            }
            PyErrValue::Form form = std::exchange(state.form, std::monostate{});
            if (std::holds_alternative<std::monostate>(form))
                fatal_failure("Cannot normalize a PyErr while already normalizing it.");
            if (Py_IsFinalizing())
                fatal_failure("Cannot attach to the Python interpreter while it is finalizing.");
            {
                GilStateAttachment attached;
                if (auto* producer = std::get_if<ErrorProducer>(&form)) {
                    raise_lazy(std::move(*producer));
                    PyObject* exception = PyErr_GetRaisedException();
                    if (exception == nullptr)
                        fatal_failure("exception missing after writing to the interpreter");
                    state.form = PyRef::steal(exception);
                } else {
                    state.form = std::move(form);
                }
            }
            {
                std::lock_guard lock(state.mutex);
                state.normalizing_thread.reset();
            }
            state.once.store(NORMALIZED, std::memory_order_release);
            state.once.notify_all();
        }
        reattach(detachment);
    }
    return std::get_if<PyRef>(&state.form)->get();
}

} // namespace talvora
