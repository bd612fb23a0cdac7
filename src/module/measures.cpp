// src/module/measures.cpp: the entry functions of the four measures.
#include "generated/interface.h"
#include "module/convert_data.h"

namespace talvora {
namespace {

using Measure = double (*)(ByteView bytes);

// The other measures answer an empty buffer themselves; shannon_entropy
// wants at least one byte.
double shannon_entropy_or_zero(ByteView bytes) {
    return bytes.empty() ? 0.0 : shannon_entropy(bytes);
}

// Takes the converted input so that its copy, or its reference to a borrowed
// object, is released on return, before the result object exists.
double measure_owned(Measure measure, BytesOrStr data) noexcept {
    return measure(data.view());
}

PyObject* measure_entry(const CallSignature& signature, Measure measure, PyObject* const* args,
                        Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return run_entry(signature, args, nargs, kwnames, [measure](PyObject* data) -> PyResult<PyRef> {
        PyResult<BytesOrStr> converted = convert_data(data);
        if (!converted.ok()) return converted.take_error();
        const double result = measure_owned(measure, std::move(converted.value()));
        return must_create(PyFloat_FromDouble(result));
    });
}

} // namespace

PyObject* shannon_measure_entropy_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                        PyObject* kwnames) noexcept {
    return measure_entry(interface::measure_entropy_signature, shannon_entropy_or_zero, args, nargs,
                         kwnames);
}

PyObject* shannon_measure_metric_entropy_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                               PyObject* kwnames) noexcept {
    return measure_entry(interface::measure_metric_entropy_signature, metric_entropy, args, nargs,
                         kwnames);
}

PyObject* shannon_measure_normalized_metric_entropy_entry(PyObject*, PyObject* const* args,
                                                          Py_ssize_t nargs,
                                                          PyObject* kwnames) noexcept {
    return measure_entry(interface::measure_normalized_metric_entropy_signature,
                         normalized_metric_entropy, args, nargs, kwnames);
}

PyObject* min_measure_entropy_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) noexcept {
    return measure_entry(interface::measure_entropy_signature, min_entropy, args, nargs, kwnames);
}

} // namespace talvora
