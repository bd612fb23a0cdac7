// src/module/ping.cpp: ping(x), twice an unsigned 64-bit integer, wrapping
// modulo 2^64.
#include <climits>

#include "generated/interface.h"

namespace talvora {
namespace {

// x as an unsigned 64-bit integer: an int as it is, anything else through
// its __index__ method. Negative or too large values keep the
// interpreter's OverflowError.
PyResult<unsigned long long> to_unsigned(PyObject* x) noexcept {
    unsigned long long value;
    if (PyLong_Check(x)) {
        value = PyLong_AsUnsignedLongLong(x);
    } else {
        PyRef index = PyRef::steal(PyNumber_Index(x));
        if (!index) return fetch_error();
        if (!PyLong_Check(index.get()))
            return type_mismatch_error(index.get(), reinterpret_cast<PyObject*>(&PyLong_Type));
        value = PyLong_AsUnsignedLongLong(index.get());
    }
    // All bits set is both a valid value and the API's error signal.
    if (value == ULLONG_MAX)
        if (std::optional<PyErrValue> error = take_error()) return std::move(*error);
    return value;
}

} // namespace

PyObject* ping_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) noexcept {
    return run_entry(interface::ping_signature, args, nargs, kwnames,
                     [](PyObject* x) -> PyResult<PyRef> {
                         PyResult<unsigned long long> value = to_unsigned(x);
                         if (!value.ok()) return annotate_argument_error("x", value.take_error());
                         const unsigned long long doubled = value.value() + value.value();
                         return must_create(PyLong_FromUnsignedLongLong(doubled));
                     });
}

} // namespace talvora
