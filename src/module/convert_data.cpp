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

PyErrValue item_out_of_range() noexcept {
    return overflow_error(Text("out of range integral type conversion attempted"));
}

// Appends one item, an int 0..255, through PyLong_AsLong (which accepts
// bool, int subclasses and __index__) and under a reference of our own, as
// its __index__ may drop the container's.
MaybeError append_item(ByteBuffer& bytes, PyObject* borrowed_item) noexcept {
    PyRef item = PyRef::borrow(borrowed_item);
    const long value = PyLong_AsLong(item.get());
    if (value == -1)
        if (std::optional<PyErrValue> error = take_error()) return std::move(*error);
    if (static_cast<unsigned long>(value) > 255) return item_out_of_range();
    bytes.push_back(static_cast<std::uint8_t>(value));
    return std::nullopt;
}

// An exact int that fits a machine word is read without a call.
bool is_exact_small_int(PyObject* item) noexcept {
    return PyLong_CheckExact(item) &&
           PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(item));
}

// An exact list or tuple read in place, as its iterator would. Runs of exact
// small ints run no Python code, so the length cannot change within one and
// its bytes go straight into the buffer. Any other item goes through
// append_item, whose __index__ may grow, shrink or clear a list: the length
// is read again after it.
template <Py_ssize_t (*Size)(PyObject*), PyObject* (*Item)(PyObject*, Py_ssize_t)>
MaybeError read_items(PyObject* sequence, ByteBuffer& bytes) noexcept {
    Py_ssize_t i = 0;
    while (i < Size(sequence)) {
        const Py_ssize_t size = Size(sequence);
        std::uint8_t* const run = bytes.append_space(static_cast<std::size_t>(size - i));
        std::size_t written = 0;
        for (; i < size && is_exact_small_int(Item(sequence, i)); ++i, ++written) {
            const Py_ssize_t value =
                PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(Item(sequence, i)));
            if (static_cast<std::size_t>(value) > 255) return item_out_of_range();
            run[written] = static_cast<std::uint8_t>(value);
        }
        bytes.appended(written);
        if (i == size) break;
        if (MaybeError error = append_item(bytes, Item(sequence, i))) return error;
        ++i;
    }
    return std::nullopt;
}

Py_ssize_t list_size(PyObject* list) noexcept {
    return PyList_GET_SIZE(list);
}
PyObject* list_item(PyObject* list, Py_ssize_t i) noexcept {
    return PyList_GET_ITEM(list, i);
}
Py_ssize_t tuple_size(PyObject* tuple) noexcept {
    return PyTuple_GET_SIZE(tuple);
}
PyObject* tuple_item(PyObject* tuple, Py_ssize_t i) noexcept {
    return PyTuple_GET_ITEM(tuple, i);
}

// Any other sequence, item by item through its iterator.
MaybeError read_iterated(PyObject* data, ByteBuffer& bytes) noexcept {
    PyRef iterator = PyRef::steal(PyObject_GetIter(data));
    if (!iterator) return fetch_error();
    for (;;) {
        PyObject* raw_item;
        const int status = PyIter_NextItem(iterator.get(), &raw_item);
        if (status == 0) return std::nullopt;
        if (status < 0) return fetch_error();
        PyRef item = PyRef::steal(raw_item);
        if (MaybeError error = append_item(bytes, item.get())) return error;
    }
}

// The items of a sequence, each an int 0..255.
PyResult<InputBytes> read_sequence(PyObject* data) noexcept {
    Py_ssize_t hint = PyObject_Size(data);
    if (hint == -1) {
        (void)take_error();
        hint = 0;
    }
    ByteBuffer bytes;
    bytes.reserve(static_cast<std::size_t>(std::min(hint, MAX_RESERVED_FROM_HINT)));
    MaybeError error = PyList_CheckExact(data)    ? read_items<list_size, list_item>(data, bytes)
                       : PyTuple_CheckExact(data) ? read_items<tuple_size, tuple_item>(data, bytes)
                                                  : read_iterated(data, bytes);
    if (error) return std::move(*error);
    return InputBytes::copied(std::move(bytes));
}

PyResult<InputBytes> extract_bytes(PyObject* data) noexcept {
    if (PyBytes_Check(data))
        return InputBytes::borrowed(data, PyBytes_AS_STRING(data), PyBytes_GET_SIZE(data));
    if (PyByteArray_Check(data)) {
        ByteBuffer copy;
        // Without a global lock another thread could resize it mid-copy.
        Py_BEGIN_CRITICAL_SECTION(data);
        copy = ByteBuffer::copy_of(PyByteArray_AS_STRING(data),
                                   static_cast<std::size_t>(PyByteArray_GET_SIZE(data)));
        Py_END_CRITICAL_SECTION();
        return InputBytes::copied(std::move(copy));
    }
    // Only a str whose UTF-8 form failed gets here.
    if (PyUnicode_Check(data)) return type_error(Text("Can't extract `str` to `Vec`"));
    if (PySequence_Check(data)) return read_sequence(data);
    return type_mismatch_error(data, sequence_abc());
}

PyErrValue str_field_error(PyErrValue error) noexcept {
    return variant_field_error(std::move(error), "BytesOrStr::Str");
}

PyErrValue not_a_str(PyObject* data) noexcept {
    return type_mismatch_error(data, reinterpret_cast<PyObject*>(&PyUnicode_Type));
}

} // namespace

PyResult<BytesOrStr> convert_data(PyObject* data) noexcept {
    MaybeError str_error;
    if (PyUnicode_Check(data)) {
        // The string owns its UTF-8 form and keeps it until it dies.
        Py_ssize_t size;
        const char* utf8 = PyUnicode_AsUTF8AndSize(data, &size);
        if (utf8 != nullptr) return BytesOrStr{InputBytes::borrowed(data, utf8, size)};
        str_error = str_field_error(fetch_error()); // lone surrogates
    } else if (PyType_HasFeature(Py_TYPE(data), Py_TPFLAGS_HEAPTYPE)) {
        // A class's __qualname__ may be changed by its own __len__, __iter__
        // or __index__ during the Bytes attempt: name it as it was before.
        str_error = str_field_error(not_a_str(data));
    }
    PyResult<InputBytes> bytes = extract_bytes(data);
    if (bytes.ok()) return BytesOrStr{std::move(bytes.value())};

    // A built-in type's name cannot change, so for one its Str error is made
    // only now that it is reported: most calls pass bytes, and for a short
    // input making exception objects would cost several times the measure.
    if (!str_error) str_error = str_field_error(not_a_str(data));
    PyErrValue bytes_field_error = variant_field_error(bytes.take_error(), "BytesOrStr::Bytes");
    return annotate_argument_error(
        "data", variant_union_error(std::move(*str_error), std::move(bytes_field_error)));
}

} // namespace talvora
