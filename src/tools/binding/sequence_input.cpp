// src/tools/binding/sequence_input.cpp: a sequence of ints 0..255 (a list,
// a tuple, a range, any class with __getitem__), read through the iterator
// protocol a block at a time, so memory stays bounded whatever its length.
// Items may run Python code (__index__, the iterator itself), so nothing is
// assumed about the sequence between two items.
#include "tools/binding/byte_input.h"

#include <algorithm>
#include <vector>

namespace nb = nanobind;

namespace talvora::tools {
namespace {

// The byte an item stands for; raises naming the item's index.
std::uint8_t item_byte(PyObject* item, Py_ssize_t index) {
    int overflow = 0;
    long value = -1;
    if (PyLong_CheckExact(item)) {
        value = PyLong_AsLongAndOverflow(item, &overflow);
    } else {
        nb::object as_int = nb::steal(PyNumber_Index(item));
        if (!as_int.is_valid()) {
            if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw nb::python_error();
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError,
                         "item %zd of the sequence is a '%T', not an int in 0..255", index, item);
            throw nb::python_error();
        }
        value = PyLong_AsLongAndOverflow(as_int.ptr(), &overflow);
    }
    if (overflow == 0 && value >= 0 && value <= 255) return static_cast<std::uint8_t>(value);
    if (overflow != 0)
        PyErr_Format(PyExc_ValueError, "item %zd of the sequence is outside 0..255", index);
    else
        PyErr_Format(PyExc_ValueError, "item %zd of the sequence is %ld, outside 0..255", index,
                     value);
    throw nb::python_error();
}

} // namespace

StreamPart summarize_sequence(nb::handle data) {
    const Py_ssize_t hint = PyObject_LengthHint(data.ptr(), 0);
    if (hint < 0) throw nb::python_error();
    std::vector<std::uint8_t> block;
    block.reserve(std::min(static_cast<std::size_t>(hint), BLOCK_LEN));
    const nb::object iterator = nb::steal(PyObject_GetIter(data.ptr()));
    if (!iterator.is_valid()) throw nb::python_error();

    BlockParts parts;
    for (Py_ssize_t index = 0;; ++index) {
        const nb::object item = nb::steal(PyIter_Next(iterator.ptr()));
        if (!item.is_valid()) {
            if (PyErr_Occurred()) throw nb::python_error();
            break;
        }
        block.push_back(item_byte(item.ptr(), index));
        if (block.size() == BLOCK_LEN) {
            parts.add(block);
            block.clear();
            // A sequence may be endless (a class whose __getitem__ never
            // raises IndexError): let Ctrl-C through.
            if (PyErr_CheckSignals() != 0) throw nb::python_error();
        }
    }
    parts.add(block);
    return parts.part();
}

} // namespace talvora::tools
