// src/module/errors.h: error values on their way to Python (PyErrValue), how
// they are raised, fetched and normalised, and the paths that abort instead.
//
// Errors are values: nothing leaves an exception set in the interpreter
// except restore_error at an entry point. A fatal failure never becomes a
// Python exception; it reports on standard error and aborts.
#pragma once

#include <Python.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <source_location>
#include <string_view>
#include <thread>
#include <utility>
#include <variant>

#include "module/fatal.h"
#include "module/owned.h"
#include "module/ref.h"

namespace talvora {

// A one-shot callable that builds the exception type and argument when an
// error is raised; destroying it unused releases what it captured.
class ErrorProducer {
  public:
    struct Produced {
        PyRef type;
        PyRef argument;
    };

    // `type` is one of the interpreter's static exception types.
    static ErrorProducer static_message(PyObject* type, const char* text) noexcept;
    static ErrorProducer owned_message(PyObject* type, Text text) noexcept;
    // "'{type of object}' object is not an instance of '{expected}'".
    static ErrorProducer type_mismatch(PyRef object, PyRef expected) noexcept;
    // The same naming the expected type by `expected_name`.
    static ErrorProducer type_mismatch_named(PyRef object, const char* expected_name) noexcept;

    Produced produce() && noexcept;

  private:
    struct StaticMessage {
        PyObject* type;
        const char* text;
    };
    struct OwnedMessage {
        PyObject* type;
        Text text;
    };
    struct TypeMismatch {
        PyRef object;
        PyRef expected;            // null when named
        const char* expected_name; // when `expected` is null
    };
    using Kind = std::variant<StaticMessage, OwnedMessage, TypeMismatch>;

    explicit ErrorProducer(Kind kind) noexcept : kind_(std::move(kind)) {}
    Kind kind_;
};

// An error on its way to Python: Lazy (a producer) until normalised, then
// Normalized (an exception instance). Moved, never copied; consumed once.
class PyErrValue {
  public:
    static PyErrValue lazy(ErrorProducer producer) noexcept;
    static PyErrValue normalized(PyRef exception) noexcept;

    PyErrValue(PyErrValue&&) noexcept = default;
    PyErrValue& operator=(PyErrValue&&) noexcept = default;
    ~PyErrValue();

  private:
    using Form = std::variant<std::monostate, ErrorProducer, PyRef>;
    class State {
      public:
        std::atomic<int> once; // the normalisation once-guard
        Form form;

        bool is_normalizing_thread() noexcept {
            std::lock_guard lock(mutex_);
            return normalizing_thread_ == std::this_thread::get_id();
        }
        void set_normalizing_thread(std::optional<std::thread::id> thread) noexcept {
            std::lock_guard lock(mutex_);
            normalizing_thread_ = thread;
        }

      private:
        std::mutex mutex_;
        std::optional<std::thread::id> normalizing_thread_;
    };
    explicit PyErrValue(Form form, bool starts_normalized) noexcept;

    friend void restore_error(PyErrValue error) noexcept;
    friend PyObject* normalize_error(PyErrValue& error) noexcept;
    // Normalises a value whose once-guard this thread holds.
    static void normalize_once(State& state, bool attach) noexcept;

    std::unique_ptr<State> state_;
};

using MaybeError = std::optional<PyErrValue>;

// Either a value or the error that prevented it.
template <class T> class [[nodiscard]] PyResult {
  public:
    PyResult(T value) noexcept : outcome_(std::in_place_index<0>, std::move(value)) {}
    PyResult(PyErrValue error) noexcept : outcome_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return outcome_.index() == 0; }
    T& value() noexcept { return *std::get_if<0>(&outcome_); }
    PyErrValue take_error() noexcept { return std::move(*std::get_if<1>(&outcome_)); }

  private:
    std::variant<T, PyErrValue> outcome_;
};

// The builders of errors are cold: they keep the calls that succeed small.
[[gnu::cold, gnu::noinline]] PyErrValue type_error(Text message) noexcept;
[[gnu::cold, gnu::noinline]] PyErrValue overflow_error(Text message) noexcept;
// A TypeError saying that `object` is not an instance of `expected` (a type,
// None's type, or a tuple of types).
[[gnu::cold, gnu::noinline]] PyErrValue type_mismatch_error(PyObject* object,
                                                            PyObject* expected) noexcept;
// The interpreter's MemoryError.
[[gnu::cold, gnu::noinline]] PyErrValue memory_error() noexcept;

// Whether an error must reach the caller as it is, never wrapped in another
// error nor dropped: an exception that does not derive from Exception
// (KeyboardInterrupt, SystemExit, ...) or a MemoryError.
bool must_propagate(PyErrValue& error) noexcept;

// Makes the error the interpreter's current exception.
void restore_error(PyErrValue error) noexcept;
// Calls the producer and sets what it built as the current exception.
void raise_lazy(ErrorProducer producer) noexcept;
// The current exception, cleared from the interpreter, if any. An exception
// of exactly the PanicException type aborts instead.
std::optional<PyErrValue> take_error() noexcept;
// take_error for a call that reported failure: never empty.
[[gnu::cold, gnu::noinline]] PyErrValue fetch_error() noexcept;
// The error's exception instance (borrowed from `error`), made on first use.
PyObject* normalize_error(PyErrValue& error) noexcept;

// A CPython constructor returned null where the system cannot go on.
[[noreturn, gnu::cold]] void
api_call_failed(std::source_location where = std::source_location::current()) noexcept;
// `object` if a constructor produced one, else api_call_failed.
PyRef must_create(PyObject* object,
                  std::source_location where = std::source_location::current()) noexcept;
// fatal_failure with the message followed by ": " and a description of the
// error (its type, value and traceback).
[[noreturn, gnu::cold]] void
fatal_failure(std::string_view message, PyErrValue error,
              std::source_location where = std::source_location::current()) noexcept;
// A PanicException came back from Python: print it and abort.
[[noreturn, gnu::cold]] void resume_fatal_from_python(PyRef exception) noexcept;

} // namespace talvora
