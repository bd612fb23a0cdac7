// src/module/fatal_python.cpp: the fatal paths that involve the interpreter:
// a constructor that returned null, a fatal failure caused by a Python
// error, and a PanicException fetched back from Python.
#include <cstdio>
#include <cstdlib>

#include "module/caches.h"
#include "module/errors.h"
#include "module/messages.h"
#include "module/text.h"

namespace talvora {
namespace {

// "\n" and the formatted traceback of `exception`, when it has one and the
// traceback module can format it; formatting failures are dropped.
void append_traceback(Text& text, PyObject* exception) noexcept {
    PyRef traceback = PyRef::steal(PyException_GetTraceback(exception));
    if (!traceback) return;
    PyRef module = PyRef::steal(PyImport_ImportModule("traceback"));
    PyRef lines =
        module ? PyRef::steal(PyObject_CallMethod(module.get(), "format_tb", "O", traceback.get()))
               : PyRef();
    PyRef separator = must_create(PyUnicode_FromString(""));
    PyRef joined = lines ? PyRef::steal(PyUnicode_Join(separator.get(), lines.get())) : PyRef();
    if (!joined) {
        (void)take_error();
        return;
    }
    text.append("\nTraceback (most recent call last):\n");
    text.append(to_text_lossy(joined.get()));
}

} // namespace

PyRef must_create(PyObject* object, std::source_location where) noexcept {
    if (object == nullptr) api_call_failed(where);
    return PyRef::steal(object);
}

void api_call_failed(std::source_location where) noexcept {
    // take_error resumes a PanicException's abort; any other is reported.
    if (std::optional<PyErrValue> error = take_error()) {
        restore_error(std::move(*error));
        PyErr_WriteUnraisable(nullptr);
    }
    fatal_failure(message(Message::NullFromConstructor), where);
}

void fatal_failure(std::string_view message, PyErrValue error,
                   std::source_location where) noexcept {
    PyObject* exception = normalize_error(error);
    Text report(message);
    report.append(": ");
    report.append(type_qualname(Py_TYPE(exception)));
    report.append(": ");
    report.append(display_object(exception));
    append_traceback(report, exception);
    fatal_failure(report, where);
}

void resume_fatal_from_python(PyRef exception) noexcept {
    std::fputs("--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
               "Python stack trace below:\n",
               stderr);
    PyErr_SetRaisedException(exception.release());
    PyErr_PrintEx(0);
    // The panic was reported where it began; the exception printed above is
    // its whole report.
    std::fflush(stderr);
    std::abort();
}

} // namespace talvora
