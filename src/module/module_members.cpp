// src/module/module_members.cpp: the exec step and the operations with which
// it fills a module: submodules, functions and their __all__ entries.
#include <string_view>

#include "module/caches.h"
#include "module/messages.h"
#include "module/module.h"

namespace talvora {
namespace {

PyObject* module_type() noexcept {
    return reinterpret_cast<PyObject*>(&PyModule_Type);
}

// The import spec of a submodule: a SimpleNamespace whose only attribute is
// `name`, the bare submodule name.
PyResult<PyRef> submodule_spec(const char* name) noexcept {
    PyResult<PyObject*> namespace_class = simple_namespace_class();
    if (!namespace_class.ok()) return namespace_class.take_error();
    PyRef keywords = must_create(PyDict_New());
    PyRef key = must_create(PyUnicode_FromString("name"));
    PyRef value = must_create(PyUnicode_FromString(name));
    if (PyDict_SetItem(keywords.get(), key.get(), value.get()) < 0) return fetch_error();
    PyRef no_arguments = must_create(PyTuple_New(0));
    PyRef spec =
        PyRef::steal(PyObject_Call(namespace_class.value(), no_arguments.get(), keywords.get()));
    if (!spec) return fetch_error();
    return spec;
}

// The attribute under which a module is attached: its name after the last ".".
PyResult<PyRef> attribute_name(PyObject* module) noexcept {
    PyRef name = PyRef::steal(PyModule_GetNameObject(module));
    if (!name) return fetch_error();
    Py_ssize_t size;
    const char* utf8 = PyUnicode_AsUTF8AndSize(name.get(), &size);
    if (utf8 == nullptr) return fetch_error();
    std::string_view text(utf8, static_cast<std::size_t>(size));
    if (const std::size_t dot = text.rfind('.'); dot != std::string_view::npos)
        text.remove_prefix(dot + 1);
    return must_create(
        PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// Creates and executes the module of `definition` from `spec`; the
// initialiser of its cached_module.
PyResult<PyRef> create_submodule(ModuleDefinition& definition, PyObject* spec) noexcept {
    PyRef module =
        PyRef::steal(PyModule_FromDefAndSpec2(&definition.def, spec, PYTHON_API_VERSION));
    if (!module) return fetch_error();
    if (!PyModule_Check(module.get())) return type_mismatch_error(module.get(), module_type());
    // Runs the submodule's own exec step, which enters the module again.
    if (PyModule_ExecDef(module.get(), &definition.def) != 0) return fetch_error();
    return module;
}

} // namespace

int run_exec_step(PyObject* module, ExecBody body) noexcept {
    EntryScope entry;
    MaybeError error;
    if (module == nullptr)
        error = fetch_error();
    else if (!PyModule_Check(module))
        error = type_mismatch_error(module, module_type());
    else
        error = body(module);
    if (!error) return 0;
    restore_error(std::move(*error));
    return -1;
}

MaybeError add_submodule(PyObject* parent, ModuleDefinition& definition) noexcept {
    const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (interpreter == -1) return fetch_error();
    std::int64_t owner = -1;
    if (!definition.owner_interpreter.compare_exchange_strong(owner, interpreter) &&
        owner != interpreter)
        return PyErrValue::lazy(
            ErrorProducer::static_message(PyExc_ImportError, message(Message::NoSubinterpreters)));

    PyResult<PyRef> spec = submodule_spec(definition.def.m_name);
    if (!spec.ok()) return spec.take_error();
    PyResult<PyObject*> cached = definition.cached_module.get_or_init(
        [&] { return create_submodule(definition, spec.value().get()); });
    spec.value().reset();
    if (!cached.ok()) return cached.take_error();
    PyRef submodule = PyRef::borrow(cached.value());

    PyResult<PyRef> name = attribute_name(submodule.get());
    if (!name.ok()) return name.take_error();
    return add_member(parent, name.value().get(), submodule.get());
}

MaybeError add_function(PyObject* module, PyMethodDef& function) noexcept {
    PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
    if (!module_name) return fetch_error();
    PyRef object = PyRef::steal(PyCMethod_New(&function, module, module_name.get(), nullptr));
    module_name.reset();
    if (!object) return fetch_error();
    PyRef name = PyRef::steal(PyObject_GetAttr(object.get(), interned_name()));
    if (!name) return fetch_error();
    if (!PyUnicode_Check(name.get()))
        return type_mismatch_error(name.get(), reinterpret_cast<PyObject*>(&PyUnicode_Type));
    return add_member(module, name.get(), object.get());
}

MaybeError add_member(PyObject* module, PyObject* name, PyObject* value) noexcept {
    PyRef all = PyRef::steal(PyObject_GetAttr(module, interned_all()));
    if (!all) {
        PyErrValue error = fetch_error();
        if (!PyErr_GivenExceptionMatches(normalize_error(error), PyExc_AttributeError))
            return error;
        all = must_create(PyList_New(0));
        if (PyObject_SetAttr(module, interned_all(), all.get()) < 0) return fetch_error();
    } else if (!PyList_Check(all.get())) {
        return type_mismatch_error(all.get(), reinterpret_cast<PyObject*>(&PyList_Type));
    }
    if (PyList_Append(all.get(), name) < 0)
        fatal_failure(message(Message::AllNotAppended), fetch_error());
    // The name stays in __all__ even if setting the attribute fails.
    if (PyObject_SetAttr(module, name, value) < 0) return fetch_error();
    return std::nullopt;
}

} // namespace talvora
