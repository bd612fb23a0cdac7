// src/module/caches.h: the process-wide Python objects created on first need.
// Each lives in its own InterpreterOnceCell and is never released; the
// submodules' own caches are in their ModuleDefinitions (module.h).
#pragma once

#include <Python.h>

#include "module/errors.h"

namespace talvora {

// pyo3_runtime.PanicException; creating it can only fail fatally.
PyObject* panic_exception_type() noexcept;
// types.SimpleNamespace, for the submodules' import specs.
PyResult<PyObject*> simple_namespace_class() noexcept;
// collections.abc.Sequence, named in conversion messages, or why it could
// not be looked up; a failed look-up is tried again by the next call.
PyResult<PyObject*> sequence_abc() noexcept;
// Interned attribute and method names.
PyObject* interned_all() noexcept;      // "__all__"
PyObject* interned_name() noexcept;     // "__name__"
PyObject* interned_add_note() noexcept; // "add_note"

} // namespace talvora
