// src/module/caches.cpp: the once-created Python objects and their
// initialisers, all in one place.
#include "module/caches.h"

#include "module/messages.h"
#include "module/once_cell.h"

namespace talvora {
namespace {

// 235 characters: what the exception means, then why it is a BaseException.
constexpr const char PANIC_EXCEPTION_DOC[] =
    "\nRaised when the native code of this extension, called from Python, fails fatally.\n"
    "\n"
    "Like SystemExit, it derives from BaseException so that it will\n"
    "typically propagate all the way through the stack and make the\n"
    "Python interpreter exit.\n";
static_assert(sizeof PANIC_EXCEPTION_DOC - 1 == 235);

PyResult<PyRef> import_attribute(const char* module_name, const char* attribute) noexcept {
    PyRef name = must_create(PyUnicode_FromString(module_name));
    PyRef module = PyRef::steal(PyImport_Import(name.get()));
    if (!module) return fetch_error();
    PyRef attribute_name = must_create(PyUnicode_FromString(attribute));
    PyRef value = PyRef::steal(PyObject_GetAttr(module.get(), attribute_name.get()));
    if (!value) return fetch_error();
    return value;
}

PyObject* interned(InterpreterOnceCell& cell, const char* text) noexcept {
    return cell
        .get_or_init(
            [text]() -> PyResult<PyRef> { return must_create(PyUnicode_InternFromString(text)); })
        .value();
}

} // namespace

PyObject* panic_exception_type() noexcept {
    static constinit InterpreterOnceCell cell;
    return cell
        .get_or_init([]() -> PyResult<PyRef> {
            PyObject* type = PyErr_NewExceptionWithDoc(
                "pyo3_runtime.PanicException", PANIC_EXCEPTION_DOC, PyExc_BaseException, nullptr);
            // Not fetch_error: taking an exception needs this very cell.
            if (type == nullptr) {
                if (PyObject* raised = PyErr_GetRaisedException())
                    fatal_failure(message(Message::PanicTypeFailed),
                                  PyErrValue::normalized(PyRef::steal(raised)));
                fatal_failure(message(Message::PanicTypeFailed));
            }
            return PyRef::steal(type);
        })
        .value();
}

PyResult<PyObject*> simple_namespace_class() noexcept {
    static constinit InterpreterOnceCell cell;
    return cell.get_or_init([] { return import_attribute("types", "SimpleNamespace"); });
}

PyResult<PyObject*> sequence_abc() noexcept {
    static constinit InterpreterOnceCell cell;
    return cell.get_or_init([]() -> PyResult<PyRef> {
        PyResult<PyRef> found = import_attribute("collections.abc", "Sequence");
        if (found.ok() && !PyType_Check(found.value().get()))
            return type_mismatch_error(found.value().get(),
                                       reinterpret_cast<PyObject*>(&PyType_Type));
        return found;
    });
}

PyObject* interned_all() noexcept {
    static constinit InterpreterOnceCell cell;
    return interned(cell, "__all__");
}

PyObject* interned_name() noexcept {
    static constinit InterpreterOnceCell cell;
    return interned(cell, "__name__");
}

PyObject* interned_add_note() noexcept {
    static constinit InterpreterOnceCell cell;
    return interned(cell, "add_note");
}

} // namespace talvora
