// src/tools/binding/contiguous_input.cpp: a `data` argument's bytes in one
// run. The checks and their messages are histogram()'s: where this form
// meets something it refuses, it asks histogram()'s own reader to raise.
#include "tools/binding/contiguous_input.h"

#include "tools/binding/byte_input.h"

namespace nb = nanobind;

namespace talvora::tools {
namespace {

// Raises the error histogram() gives for data, which the caller knows it
// refuses; error_type and message stand in should data have changed since.
[[noreturn]] void raise_as_histogram_does(nb::handle data, PyObject* error_type,
                                          const char* message) {
    summarize_data(data);
    PyErr_SetString(error_type, message);
    throw nb::python_error();
}

} // namespace

ContiguousInput::ContiguousInput(nb::handle data) {
    PyObject* object = data.ptr();
    if (PyUnicode_Check(object)) {
        Py_ssize_t len = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(object, &len);
        if (utf8 == nullptr) throw nb::python_error();
        // The encoding is cached in the str, which the caller holds.
        bytes_ = {reinterpret_cast<const std::uint8_t*>(utf8), static_cast<std::size_t>(len)};
    } else if (PyObject_CheckBuffer(object)) {
        from_buffer(data);
    } else if (PySequence_Check(object)) {
        from_sequence(data);
    } else {
        raise_as_histogram_does(data, PyExc_TypeError, "data cannot be scanned");
    }
}

ContiguousInput::~ContiguousInput() {
    if (holds_buffer_) PyBuffer_Release(&buffer_);
}

void ContiguousInput::from_buffer(nb::handle data) {
    if (PyObject_GetBuffer(data.ptr(), &buffer_, PyBUF_RECORDS_RO) != 0) throw nb::python_error();
    holds_buffer_ = true;
    if (buffer_.itemsize != 1) {
        PyBuffer_Release(&buffer_);
        holds_buffer_ = false;
        raise_as_histogram_does(data, PyExc_TypeError, "only buffers of 1-byte items are scanned");
    }
    const auto len = static_cast<std::size_t>(buffer_.len);
    if (PyBuffer_IsContiguous(&buffer_, 'C')) {
        bytes_ = {static_cast<const std::uint8_t*>(buffer_.buf), len};
        return;
    }
    strided_copy_ = std::make_unique_for_overwrite<std::uint8_t[]>(len);
    if (PyBuffer_ToContiguous(strided_copy_.get(), &buffer_, buffer_.len, 'C') != 0)
        throw nb::python_error();
    bytes_ = {strided_copy_.get(), len};
}

void ContiguousInput::from_sequence(nb::handle data) {
    copy_owner_ = nb::steal(PyBytes_FromObject(data.ptr()));
    if (!copy_owner_.is_valid()) {
        // An item that is not an int in 0..255: histogram()'s reader names
        // its index. Any other failure (memory, a raising iterator) stands.
        if (!PyErr_ExceptionMatches(PyExc_ValueError) && !PyErr_ExceptionMatches(PyExc_TypeError))
            throw nb::python_error();
        nb::python_error original;
        summarize_sequence(data);
        original.restore();
        throw nb::python_error();
    }
    bytes_ = {reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(copy_owner_.ptr())),
              static_cast<std::size_t>(PyBytes_GET_SIZE(copy_owner_.ptr()))};
}

} // namespace talvora::tools
