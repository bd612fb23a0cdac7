// src/module/measures.cpp: the entry functions of the four measures.
#include "generated/interface.h"
#include "module/convert_data.h"

namespace talvora {
namespace {

// The other measures answer an empty buffer themselves; shannon_entropy
// wants at least one byte.
double shannon_entropy_or_zero(ByteView bytes) {
    return bytes.empty() ? 0.0 : shannon_entropy(bytes);
}

PyObject* measure_entry(const CallSignature& signature, ByteMeasure measure, PyObject* const* args,
                        Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return run_entry(signature, args, nargs, kwnames, [measure](PyObject* data) -> PyResult<PyRef> {
        // Any copy of the input is freed before the result object exists.
        PyResult<double> result = measure_data(data, measure);
        if (!result.ok()) [[unlikely]]
            return result.take_error();
        return must_create(PyFloat_FromDouble(result.value()));
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
