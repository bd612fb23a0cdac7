// src/module/convert_data.cpp: measure_data, the Str and Bytes attempts.
#include "module/convert_data.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "module/byte_buffer.h"
#include "module/caches.h"
#include "module/call.h"
#include "module/messages.h"

namespace talvora {
namespace {

// A sequence's length only sizes the first reservation; a hostile __len__
// must not make it reserve more than this.
constexpr Py_ssize_t MAX_RESERVED_FROM_HINT = Py_ssize_t{1} << 20;

[[gnu::cold, gnu::noinline]] PyErrValue item_out_of_range() noexcept {
    return overflow_error(Text(message(Message::OutOfRange)));
}

// Appends one item, an int 0..255, through PyLong_AsLong (which accepts
// bool, int subclasses and __index__). The caller holds a reference to the
// item, as its __index__ may drop the container's.
MaybeError append_item(ByteBuffer& bytes, PyObject* item) noexcept {
    const long value = PyLong_AsLong(item);
    if (value == -1) [[unlikely]]
        if (std::optional<PyErrValue> error = take_error()) return std::move(*error);
    if (static_cast<unsigned long>(value) > 255) [[unlikely]]
        return item_out_of_range();
    if (!bytes.push_back(static_cast<std::uint8_t>(value))) [[unlikely]]
        return memory_error();
    return std::nullopt;
}

// An exact int that fits a machine word is read without a call.
bool is_exact_small_int(PyObject* item) noexcept {
    return PyLong_CheckExact(item) &&
           PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(item));
}

enum class RunEnd { AtEnd, AtOtherItem, OutOfRange, NoMemory };

// Reads items[i], items[i + 1], ... before `size` into `bytes` for as long as
// they are exact small ints, which run no Python code; `i` is left where the
// run ended. A list may have shrunk below `i` since the last run.
RunEnd read_run(PyObject* const* items, Py_ssize_t size, Py_ssize_t& i,
                ByteBuffer& bytes) noexcept {
    if (i >= size) return RunEnd::AtEnd;
    if (!bytes.make_room(static_cast<std::size_t>(size - i))) [[unlikely]]
        return RunEnd::NoMemory;
    std::uint8_t* const run = bytes.tail();
    std::size_t written = 0;
    RunEnd end = RunEnd::AtEnd;
    for (; i < size; ++i, ++written) {
        PyObject* const item = items[i];
        if (!is_exact_small_int(item)) {
            end = RunEnd::AtOtherItem;
            break;
        }
        const Py_ssize_t value =
            PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(item));
        if (static_cast<std::size_t>(value) > 255) [[unlikely]] {
            end = RunEnd::OutOfRange;
            break;
        }
        run[written] = static_cast<std::uint8_t>(value);
    }
    bytes.appended(written);
    return end;
}

// The error of a run that ended other than at another item.
MaybeError run_error(RunEnd end) noexcept {
    if (end == RunEnd::OutOfRange) return item_out_of_range();
    if (end == RunEnd::NoMemory) return memory_error();
    return std::nullopt;
}

// An exact list read in place, as its iterator would. A run is read under
// the list's critical section, where no other thread can resize it; any
// other item is taken as a reference of our own under it and converted
// after it, since its __index__ may run Python code that grows, shrinks or
// clears the list: the length is read again at the next run.
MaybeError read_list(PyObject* list, ByteBuffer& bytes) noexcept {
    for (Py_ssize_t i = 0;; ++i) {
        RunEnd end;
        PyRef other;
        Py_BEGIN_CRITICAL_SECTION(list);
        end = read_run(PySequence_Fast_ITEMS(list), PyList_GET_SIZE(list), i, bytes);
        if (end == RunEnd::AtOtherItem) other = PyRef::borrow(PyList_GET_ITEM(list, i));
        Py_END_CRITICAL_SECTION();
        if (end != RunEnd::AtOtherItem) return run_error(end);
        if (MaybeError error = append_item(bytes, other.get())) return error;
    }
}

// An exact tuple read in place: it holds its items for as long as the
// caller holds it.
MaybeError read_tuple(PyObject* tuple, ByteBuffer& bytes) noexcept {
    const Py_ssize_t size = PyTuple_GET_SIZE(tuple);
    for (Py_ssize_t i = 0;; ++i) {
        const RunEnd end = read_run(PySequence_Fast_ITEMS(tuple), size, i, bytes);
        if (end != RunEnd::AtOtherItem) return run_error(end);
        if (MaybeError error = append_item(bytes, PyTuple_GET_ITEM(tuple, i))) return error;
    }
}

// Any other sequence, item by item through its iterator.
MaybeError read_iterated(PyObject* data, ByteBuffer& bytes) noexcept {
    PyRef iterator = PyRef::steal(PyObject_GetIter(data));
    if (!iterator) return fetch_error();
    for (;;) {
        PyObject* raw_item;
        const int status = PyIter_NextItem(iterator.get(), &raw_item);
        if (status == 0) return std::nullopt;
        if (status < 0) [[unlikely]]
            return fetch_error();
        PyRef item = PyRef::steal(raw_item);
        if (MaybeError error = append_item(bytes, item.get())) return error;
    }
}

// The items of a sequence, each an int 0..255, copied.
PyResult<ByteBuffer> read_sequence(PyObject* data) noexcept {
    Py_ssize_t hint = PyObject_Size(data);
    if (hint == -1) {
        PyErrValue error = fetch_error();
        if (must_propagate(error)) return error;
        hint = 0;
    }
    ByteBuffer bytes;
    if (!bytes.reserve(static_cast<std::size_t>(std::min(hint, MAX_RESERVED_FROM_HINT))))
        [[unlikely]]
        return memory_error();
    MaybeError error = PyList_CheckExact(data)    ? read_list(data, bytes)
                       : PyTuple_CheckExact(data) ? read_tuple(data, bytes)
                                                  : read_iterated(data, bytes);
    if (error) return std::move(*error);
    return bytes;
}

// An exact array.array: Python code cannot make an immutable type, so no
// subclass or imitation of that name passes.
bool is_exact_array(PyObject* data) noexcept {
    PyTypeObject* type = Py_TYPE(data);
    return PyType_HasFeature(type, Py_TPFLAGS_IMMUTABLETYPE) &&
           std::strcmp(type->tp_name, "array.array") == 0;
}

// An exact memoryview or array.array whose items are unsigned bytes in one
// run is measured in place, under its export: its iterator would yield
// exactly these bytes and run no Python code. Anything else (other formats
// and shapes, strided or released views) is not measured here.
std::optional<double> measure_in_place(PyObject* data, ByteMeasure measure) noexcept {
    Py_buffer view;
    if (PyObject_GetBuffer(data, &view, PyBUF_FULL_RO) != 0) {
        // Only a released memoryview refuses; the iterator reports that.
        (void)take_error();
        return std::nullopt;
    }
    std::optional<double> result;
    if (view.ndim == 1 && view.itemsize == 1 && std::strcmp(view.format, "B") == 0 &&
        PyBuffer_IsContiguous(&view, 'C'))
        result = measure(
            {static_cast<const std::uint8_t*>(view.buf), static_cast<std::size_t>(view.len)});
    PyBuffer_Release(&view);
    return result;
}

double measure_bytearray(PyObject* data, ByteMeasure measure) noexcept {
    double result;
    // Held for the whole count: without a global lock another thread could
    // otherwise resize it meanwhile.
    Py_BEGIN_CRITICAL_SECTION(data);
    result = measure({reinterpret_cast<const std::uint8_t*>(PyByteArray_AS_STRING(data)),
                      static_cast<std::size_t>(PyByteArray_GET_SIZE(data))});
    Py_END_CRITICAL_SECTION();
    return result;
}

[[gnu::cold, gnu::noinline]] PyErrValue str_field_error(PyErrValue error) noexcept {
    return variant_field_error(std::move(error), "BytesOrStr::Str");
}

[[gnu::cold, gnu::noinline]] PyErrValue not_a_str(PyObject* data) noexcept {
    return type_mismatch_error(data, reinterpret_cast<PyObject*>(&PyUnicode_Type));
}

// collections.abc.Sequence only names the expected type: when it cannot be
// looked up, its name stands in for it and the failure is dropped.
[[gnu::cold, gnu::noinline]] PyErrValue not_a_sequence(PyObject* data) noexcept {
    PyResult<PyObject*> sequence = sequence_abc();
    if (sequence.ok()) return type_mismatch_error(data, sequence.value());
    PyErrValue failure = sequence.take_error();
    if (must_propagate(failure)) return failure;
    return PyErrValue::lazy(ErrorProducer::type_mismatch_named(PyRef::borrow(data), "Sequence"));
}

// The error of both failed attempts, noted with the argument's name.
[[gnu::cold, gnu::noinline]] PyErrValue both_failed(PyErrValue str_error,
                                                    PyErrValue bytes_error) noexcept {
    PyErrValue bytes_field_error = variant_field_error(std::move(bytes_error), "BytesOrStr::Bytes");
    return annotate_argument_error(
        "data", variant_union_error(std::move(str_error), std::move(bytes_field_error)));
}

ByteView utf8_view(const char* utf8, Py_ssize_t size) noexcept {
    return {reinterpret_cast<const std::uint8_t*>(utf8), static_cast<std::size_t>(size)};
}

} // namespace

PyResult<double> measure_data(PyObject* data, ByteMeasure measure) noexcept {
    assert(PyGILState_Check());
    // The caller's reference keeps `data` alive throughout: a bytes, and the
    // UTF-8 form a str owns until it dies, are read in place.
    if (PyBytes_Check(data))
        return measure(utf8_view(PyBytes_AS_STRING(data), PyBytes_GET_SIZE(data)));
    if (PyByteArray_Check(data)) return measure_bytearray(data, measure);
    if (PyUnicode_Check(data)) {
        Py_ssize_t size;
        if (const char* utf8 = PyUnicode_AsUTF8AndSize(data, &size))
            return measure(utf8_view(utf8, size));
        PyErrValue error = fetch_error(); // lone surrogates
        if (must_propagate(error)) return error;
        return both_failed(str_field_error(std::move(error)),
                           type_error(Text(message(Message::StrIsNotAVec))));
    }
    if (PyMemoryView_Check(data) || is_exact_array(data))
        if (std::optional<double> result = measure_in_place(data, measure)) return *result;

    MaybeError str_error;
    if (PyType_HasFeature(Py_TYPE(data), Py_TPFLAGS_HEAPTYPE)) {
        // A class's __qualname__ may be changed by its own __len__, __iter__
        // or __index__ during the Bytes attempt: name it as it was before.
        str_error = str_field_error(not_a_str(data));
    }
    PyResult<ByteBuffer> bytes =
        PySequence_Check(data) ? read_sequence(data) : PyResult<ByteBuffer>(not_a_sequence(data));
    if (bytes.ok()) return measure(bytes.value().view());
    PyErrValue bytes_error = bytes.take_error();
    if (must_propagate(bytes_error)) return bytes_error;
    // A built-in type's name cannot change, so for one its Str error is made
    // only now that it is reported: making exception objects for every
    // input that converts would cost more than measuring a short one.
    if (!str_error) str_error = str_field_error(not_a_str(data));
    return both_failed(std::move(*str_error), std::move(bytes_error));
}

} // namespace talvora
