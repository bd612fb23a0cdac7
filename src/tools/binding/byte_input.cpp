// src/tools/binding/byte_input.cpp: which kind of input `data` is.
#include "tools/binding/byte_input.h"

#include "pool/pool.h"

namespace nb = nanobind;

namespace talvora::tools {

StreamPart summarize_bytes(ByteView bytes) {
    if (bytes.size() < RELEASE_LOCK_MIN_LEN) return summarize(bytes);
    nb::gil_scoped_release released;
    return summarize_parallel(bytes, global_pool());
}

StreamPart summarize_data(nb::handle data) {
    PyObject* object = data.ptr();
    if (PyUnicode_Check(object)) {
        Py_ssize_t len = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(object, &len);
        if (utf8 == nullptr) throw nb::python_error();
        // The encoding is cached in the str, which the caller holds.
        return summarize_bytes(
            {reinterpret_cast<const std::uint8_t*>(utf8), static_cast<std::size_t>(len)});
    }
    if (PyObject_CheckBuffer(object)) return summarize_buffer(data);
    if (PySequence_Check(object)) return summarize_sequence(data);
    PyErr_Format(PyExc_TypeError,
                 "data must be a bytes-like object of 1-byte items (bytes, bytearray, "
                 "memoryview, mmap, array, a numpy uint8 array...), a str or a sequence of "
                 "ints 0..255, not '%T'",
                 object);
    throw nb::python_error();
}

} // namespace talvora::tools
