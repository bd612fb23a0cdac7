// src/module/annotate.cpp: the note that names the argument whose conversion
// failed.
#include "module/caches.h"
#include "module/call.h"

namespace talvora {
namespace {

// "while processing '{parameter}'" as a new str, or null with the writer's
// error pending.
PyObject* argument_note(std::string_view parameter) noexcept {
    PyUnicodeWriter* writer = PyUnicodeWriter_Create(0);
    if (writer == nullptr) return nullptr;
    const bool written =
        PyUnicodeWriter_WriteUTF8(writer, "while processing '", -1) == 0 &&
        PyUnicodeWriter_WriteUTF8(writer, parameter.data(),
                                  static_cast<Py_ssize_t>(parameter.size())) == 0 &&
        PyUnicodeWriter_WriteChar(writer, '\'') == 0;
    if (!written) {
        PyUnicodeWriter_Discard(writer);
        return nullptr;
    }
    return PyUnicodeWriter_Finish(writer);
}

} // namespace

PyErrValue annotate_argument_error(std::string_view parameter, PyErrValue error) noexcept {
    // A failed note leaves the error as it was, normalised all the same.
    PyRef note = PyRef::steal(argument_note(parameter));
    if (!note) (void)take_error();
    PyObject* exception = normalize_error(error);
    if (!note) return error;
    PyObject* const call[] = {exception, note.get()};
    PyRef added = PyRef::steal(PyObject_VectorcallMethod(
        interned_add_note(), call, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    if (!added) (void)take_error();
    return error;
}

} // namespace talvora
