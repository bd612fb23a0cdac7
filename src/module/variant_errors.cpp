// src/module/variant_errors.cpp: the errors of a failed BytesOrStr
// conversion and how they are described in its message.
#include <algorithm>
#include <vector>

#include "module/convert_data.h"
#include "module/messages.h"
#include "module/text.h"

namespace talvora {
namespace {

// "{type qualname}: {str(exception)}" appended to `text`. A str() that
// fails is written as such and dropped, unless its error must propagate:
// then that error is returned.
MaybeError describe_exception(Text& text, PyObject* exception) noexcept {
    text.append(type_qualname(Py_TYPE(exception)));
    text.append(": ");
    if (PyRef str = PyRef::steal(PyObject_Str(exception))) {
        text.append(to_text_lossy(str.get()));
        return std::nullopt;
    }
    PyErrValue error = fetch_error();
    if (must_propagate(error)) return error;
    text.append(message(Message::ExceptionStrFailed));
    return std::nullopt;
}

// The error, then ", caused by " and each cause in turn. A chain that loops
// back on itself ends at the first repeat.
MaybeError describe_chain(Text& text, PyErrValue& error) noexcept {
    PyObject* exception = normalize_error(error);
    if (MaybeError failed = describe_exception(text, exception)) return failed;
    std::vector<PyObject*, FatalAllocator<PyObject*>> seen{exception};
    PyRef cause = PyRef::steal(PyException_GetCause(exception));
    while (cause && std::find(seen.begin(), seen.end(), cause.get()) == seen.end()) {
        text.append(", caused by ");
        if (MaybeError failed = describe_exception(text, cause.get())) return failed;
        seen.push_back(cause.get());
        cause = PyRef::steal(PyException_GetCause(cause.get()));
    }
    return std::nullopt;
}

} // namespace

PyErrValue variant_field_error(PyErrValue inner, std::string_view field_path) noexcept {
    Text text(message(Message::FieldOfVariant));
    text.append(field_path);
    text.append(".0");
    PyErrValue outer = type_error(std::move(text));
    PyObject* outer_exception = normalize_error(outer);
    // SetCause takes the reference and also sets __suppress_context__.
    PyException_SetCause(outer_exception, Py_NewRef(normalize_error(inner)));
    return outer;
}

PyErrValue variant_union_error(PyErrValue str_error, PyErrValue bytes_error) noexcept {
    Text text(message(Message::UnionOfBytesOrStr));
    text.append("\n- variant Str (Str): ");
    if (MaybeError failed = describe_chain(text, str_error)) return std::move(*failed);
    text.append("\n- variant Bytes (Bytes): ");
    if (MaybeError failed = describe_chain(text, bytes_error)) return std::move(*failed);
    return type_error(std::move(text));
}

} // namespace talvora
