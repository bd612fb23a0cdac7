// src/module/variant_errors.cpp: the errors of a failed BytesOrStr
// conversion and how they are described in its message.
#include <algorithm>
#include <vector>

#include "module/convert_data.h"
#include "module/text.h"

namespace talvora {
namespace {

// "{type qualname}: {str(exception)}".
Text describe_exception(PyObject* exception) noexcept {
    Text text = type_qualname(Py_TYPE(exception));
    text.append(": ");
    if (PyRef str = PyRef::steal(PyObject_Str(exception))) {
        text.append(to_text_lossy(str.get()));
    } else {
        (void)take_error();
        text.append("<exception str() failed>");
    }
    return text;
}

// The error, then ", caused by " and each cause in turn. A chain that loops
// back on itself ends at the first repeat.
Text describe_chain(PyErrValue& error) noexcept {
    PyObject* exception = normalize_error(error);
    Text text = describe_exception(exception);
    std::vector<PyObject*, FatalAllocator<PyObject*>> seen{exception};
    PyRef cause = PyRef::steal(PyException_GetCause(exception));
    while (cause && std::find(seen.begin(), seen.end(), cause.get()) == seen.end()) {
        text.append(", caused by ");
        text.append(describe_exception(cause.get()));
        seen.push_back(cause.get());
        cause = PyRef::steal(PyException_GetCause(cause.get()));
    }
    return text;
}

} // namespace

PyErrValue variant_field_error(PyErrValue inner, std::string_view field_path) noexcept {
    Text message("failed to extract field ");
    message.append(field_path);
    message.append(".0");
    PyErrValue outer = type_error(std::move(message));
    PyObject* outer_exception = normalize_error(outer);
    // SetCause takes the reference and also sets __suppress_context__.
    PyException_SetCause(outer_exception, Py_NewRef(normalize_error(inner)));
    return outer;
}

PyErrValue variant_union_error(PyErrValue str_error, PyErrValue bytes_error) noexcept {
    Text message("failed to extract enum BytesOrStr ('Str | Bytes')");
    message.append("\n- variant Str (Str): ");
    message.append(describe_chain(str_error));
    message.append("\n- variant Bytes (Bytes): ");
    message.append(describe_chain(bytes_error));
    return type_error(std::move(message));
}

} // namespace talvora
