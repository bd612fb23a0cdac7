// src/module/convert_data.cpp: convert_data, the Str and Bytes attempts.
#include "module/convert_data.h"

#include <algorithm>

#include "module/caches.h"
#include "module/call.h"

namespace talvora {
namespace {

// A sequence's length only sizes the first reservation; a hostile __len__
// must not make it reserve more than this.
constexpr Py_ssize_t MAX_RESERVED_FROM_HINT = Py_ssize_t{1} << 20;

OwnedBytes copy_bytes(const char* bytes, Py_ssize_t size) noexcept {
    const auto* first = reinterpret_cast<const std::uint8_t*>(bytes);
    return OwnedBytes(first, first + size);
}

PyResult<OwnedBytes> extract_str(PyObject* data) noexcept {
    if (!PyUnicode_Check(data))
        return type_mismatch_error(data, reinterpret_cast<PyObject*>(&PyUnicode_Type));
    Py_ssize_t size;
    const char* utf8 = PyUnicode_AsUTF8AndSize(data, &size);
    if (utf8 == nullptr) return fetch_error(); // lone surrogates
    return copy_bytes(utf8, size);
}

// The items of a sequence, each an int 0..255, read through its iterator.
PyResult<OwnedBytes> read_sequence(PyObject* data) noexcept {
    Py_ssize_t hint = PyObject_Size(data);
    if (hint == -1) {
        (void)take_error();
        hint = 0;
    }
    OwnedBytes bytes;
    bytes.reserve(static_cast<std::size_t>(std::min(hint, MAX_RESERVED_FROM_HINT)));
    PyRef iterator = PyRef::steal(PyObject_GetIter(data));
    if (!iterator) return fetch_error();
    for (;;) {
        PyObject* raw_item;
        const int status = PyIter_NextItem(iterator.get(), &raw_item);
        if (status == 0) return bytes;
        if (status < 0) return fetch_error();
        PyRef item = PyRef::steal(raw_item);
        const long value = PyLong_AsLong(item.get());
        if (value == -1)
            if (std::optional<PyErrValue> error = take_error()) return std::move(*error);
        if (static_cast<unsigned long>(value) > 255)
            return overflow_error(Text("out of range integral type conversion attempted"));
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
}

PyResult<OwnedBytes> extract_bytes(PyObject* data) noexcept {
    if (PyBytes_Check(data)) return copy_bytes(PyBytes_AsString(data), PyBytes_Size(data));
    if (PyByteArray_Check(data))
        return copy_bytes(PyByteArray_AsString(data), PyByteArray_Size(data));
    // Only a str whose UTF-8 form failed gets here.
    if (PyUnicode_Check(data)) return type_error(Text("Can't extract `str` to `Vec`"));
    if (PySequence_Check(data)) return read_sequence(data);
    return type_mismatch_error(data, sequence_abc());
}

} // namespace

PyResult<BytesOrStr> convert_data(PyObject* data) noexcept {
    PyResult<OwnedBytes> str = extract_str(data);
    if (str.ok()) return BytesOrStr{BytesOrStr::Variant::Str, std::move(str.value())};
    PyErrValue str_error = variant_field_error(str.take_error(), "BytesOrStr::Str");

    PyResult<OwnedBytes> bytes = extract_bytes(data);
    if (bytes.ok()) return BytesOrStr{BytesOrStr::Variant::Bytes, std::move(bytes.value())};
    PyErrValue bytes_error = variant_field_error(bytes.take_error(), "BytesOrStr::Bytes");

    return annotate_argument_error(
        "data", variant_union_error(std::move(str_error), std::move(bytes_error)));
}

} // namespace talvora
