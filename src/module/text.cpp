// src/module/text.cpp: to_text_lossy, display_object and type names.
#include "module/text.h"

#include "module/errors.h"
#include "module/messages.h"
#include "module/utf8_lossy.h"

namespace talvora {

Text to_text_lossy(PyObject* str) noexcept {
    Py_ssize_t size;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(str, &size)) return Text(utf8, size);
    (void)take_error();
    PyRef encoded = must_create(PyUnicode_AsEncodedString(str, "utf-8", "surrogatepass"));
    return utf8_lossy({PyBytes_AS_STRING(encoded.get()),
                       static_cast<std::size_t>(PyBytes_GET_SIZE(encoded.get()))});
}

Text display_object(PyObject* object) noexcept {
    if (PyRef str = PyRef::steal(PyObject_Str(object))) return to_text_lossy(str.get());
    restore_error(fetch_error());
    PyErr_WriteUnraisable(object);
    PyRef name = PyRef::steal(PyType_GetName(Py_TYPE(object)));
    if (!name) {
        (void)take_error();
        return Text(message(Message::UnprintableObject));
    }
    Text text("<unprintable ");
    text.append(to_text_lossy(name.get()));
    text.append(" object>");
    return text;
}

Text type_qualname(PyTypeObject* type) noexcept {
    PyRef name = PyRef::steal(PyType_GetQualName(type));
    if (!name) {
        (void)take_error();
        return Text(message(Message::TypeNameUnknown));
    }
    return to_text_lossy(name.get());
}

} // namespace talvora
