// src/module/errors.cpp: PyErrValue and the operations that raise, fetch and
// normalise it.
#include "module/errors.h"

#include <atomic>
#include <cassert>

#include "module/caches.h"
#include "module/messages.h"

namespace talvora {
namespace {

// States of a value's normalisation once-guard.
enum : int { NOT_NORMALIZED = 0, NORMALIZING = 1, NORMALIZED = 2 };

template <class T> std::unique_ptr<T> make_owned() noexcept {
    T* object = new (std::nothrow) T{};
    if (object == nullptr) [[unlikely]]
        fatal_failure(message(Message::AllocationFailed));
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

PyErrValue memory_error() noexcept {
    (void)PyErr_NoMemory();
    return fetch_error();
}

bool must_propagate(PyErrValue& error) noexcept {
    PyObject* exception = normalize_error(error);
    return !PyErr_GivenExceptionMatches(exception, PyExc_Exception) ||
           PyErr_GivenExceptionMatches(exception, PyExc_MemoryError);
}

void restore_error(PyErrValue error) noexcept {
    PyErrValue::Form form;
    if (error.state_) form = std::exchange(error.state_->form, std::monostate{});
    if (auto* producer = std::get_if<ErrorProducer>(&form))
        raise_lazy(std::move(*producer));
    else if (auto* exception = std::get_if<PyRef>(&form))
        PyErr_SetRaisedException(exception->release());
    else
        fatal_failure(message(Message::StateInvalid));
}

void raise_lazy(ErrorProducer producer) noexcept {
    auto [type, argument] = std::move(producer).produce();
    // Every producer names one of the interpreter's exception types.
    assert(PyExceptionClass_Check(type.get()));
    PyErr_SetObject(type.get(), argument.get());
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
    return PyErrValue::lazy(
        ErrorProducer::static_message(PyExc_SystemError, message(Message::NoExceptionSet)));
}

void PyErrValue::normalize_once(State& state, bool attach) noexcept {
    state.set_normalizing_thread(std::this_thread::get_id());
    Form form = std::exchange(state.form, std::monostate{});
    if (std::holds_alternative<std::monostate>(form)) [[unlikely]]
        fatal_failure(message(Message::NormalizingTwice));
    {
        std::optional<GilStateAttachment> attached;
        if (attach) attached.emplace();
        if (auto* producer = std::get_if<ErrorProducer>(&form)) {
            raise_lazy(std::move(*producer));
            PyObject* exception = PyErr_GetRaisedException();
            if (exception == nullptr) [[unlikely]]
                fatal_failure(message(Message::ExceptionMissing));
            state.form = PyRef::steal(exception);
        } else {
            state.form = std::move(form);
        }
    }
    state.set_normalizing_thread(std::nullopt);
    // Pairs with the acquire loads in normalize_error: who sees NORMALIZED
    // sees the exception stored.
    state.once.store(NORMALIZED, std::memory_order_release);
    state.once.notify_all();
}

PyObject* normalize_error(PyErrValue& error) noexcept {
    if (!error.state_) [[unlikely]]
        fatal_failure(message(Message::StateInvalid));
    PyErrValue::State& state = *error.state_;
    if (state.is_normalizing_thread()) [[unlikely]]
        fatal_failure(message(Message::ReentrantNormalization));
    if (state.once.load(std::memory_order_acquire) == NORMALIZED)
        return std::get_if<PyRef>(&state.form)->get();
    if (Py_IsFinalizing()) [[unlikely]] {
        // Only the finalising thread runs Python now, attached as it is
        // here (a __del__ in the last collection); it normalises in place,
        // as the interpreter lets no other thread attach again.
        int seen = NOT_NORMALIZED;
        if (!state.once.compare_exchange_strong(seen, NORMALIZING, std::memory_order_acquire))
            fatal_failure(message(Message::FinalizingElsewhere));
        PyErrValue::normalize_once(state, /*attach=*/false);
        return std::get_if<PyRef>(&state.form)->get();
    }
    // Detached, so that a thread that finds another one normalising this
    // value waits without holding the interpreter; the one that runs
    // attaches again just for the step.
    const Detachment detachment = detach();
    for (int seen = state.once.load(std::memory_order_acquire); seen != NORMALIZED;
         seen = state.once.load(std::memory_order_acquire)) {
        if (seen == NORMALIZING) {
            state.once.wait(NORMALIZING, std::memory_order_acquire);
            continue;
        }
        if (state.once.compare_exchange_strong(seen, NORMALIZING, std::memory_order_acquire))
            PyErrValue::normalize_once(state, /*attach=*/true);
    }
    reattach(detachment);
    return std::get_if<PyRef>(&state.form)->get();
}

} // namespace talvora
