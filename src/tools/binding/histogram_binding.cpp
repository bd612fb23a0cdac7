// src/tools/binding/histogram_binding.cpp: the native core of Histogram. The
// package's Python class derives from it and adds the parts that are only
// shape (report objects, files by path, copies, pickling glue).
#include "tools/binding/bindings.h"

#include "tools/binding/byte_input.h"
#include "tools/binding/part_state.h"

#include <string>

namespace nb = nanobind;
using namespace nb::literals;

namespace talvora::tools {

void append_or_raise(HistogramState& histogram, const Counted& more) {
    if (histogram.append(more)) return;
    PyErr_SetString(PyExc_OverflowError, "a histogram counts at most 2**64 - 1 bytes");
    throw nb::python_error();
}

HistogramClass bind_histogram(nb::module_& module) {
    HistogramClass histogram(module, "Histogram",
                             "An exact histogram of bytes, with everything a report needs.");
    histogram.def(nb::init<>(), "An empty histogram.")
        .def(
            "__init__",
            [](HistogramState* self, nb::handle data) {
                new (self) HistogramState(Counted{summarize_data(data)});
            },
            "data"_a.none(), nb::sig("def __init__(self, data: " TALVORA_DATA_TYPE ") -> None"),
            "A histogram of the bytes of data.")
        .def(
            "update",
            [](HistogramState& self, nb::handle data) {
                append_or_raise(self, Counted{summarize_data(data)});
            },
            "data"_a.none(), nb::sig("def update(self, data: " TALVORA_DATA_TYPE ") -> None"),
            "Adds the bytes of data after those counted so far.")
        .def(
            "merge",
            [](HistogramState& self, const HistogramState& other) {
                // A snapshot first: no two histograms' locks are ever held
                // together, so a.merge(b) beside b.merge(a) cannot deadlock,
                // and h.merge(h) adds h's bytes twice.
                append_or_raise(self, other.snapshot());
            },
            "other"_a, "Adds other's bytes, as if they came after this one's.")
        .def_prop_ro(
            "total", [](const HistogramState& self) { return self.snapshot().part.n; },
            "The number of bytes counted.")
        .def("__len__", [](const HistogramState& self) { return self.snapshot().part.n; })
        .def_prop_ro(
            "truncated", [](const HistogramState& self) { return self.snapshot().truncated; },
            "Whether a file read into it was cut short while it was read.")
        .def(
            "__eq__",
            [](const HistogramState& self, nb::handle other) -> nb::object {
                if (!nb::isinstance<HistogramState>(other)) return nb::borrow(Py_NotImplemented);
                const HistogramState& that = nb::cast<const HistogramState&>(other);
                return nb::bool_(&self == &that || self.snapshot() == that.snapshot());
            },
            nb::sig("def __eq__(self, other: object, /) -> bool"), nb::is_operator())
        .def(
            "_counts",
            [](const HistogramState& self) {
                const Counted counted = self.snapshot();
                return nb::bytes(counted.part.counts.counts.data(),
                                 sizeof counted.part.counts.counts);
            },
            "The 256 counts as native 64-bit unsigned integers.")
        .def(
            "_state",
            [](const HistogramState& self) {
                const std::string state = encode_state(self.snapshot());
                return nb::bytes(state.data(), state.size());
            },
            "The state as bytes, for pickling.")
        .def(
            "_set_state",
            [](HistogramState& self, nb::bytes state) {
                const auto counted = decode_state({state.c_str(), state.size()});
                if (!counted) throw nb::value_error("not a histogram state");
                self.replace(*counted);
            },
            "state"_a, "Replaces everything counted by a state from _state().");
    return histogram;
}

} // namespace talvora::tools
