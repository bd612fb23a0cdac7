// src/module/text.h: Python strings and objects as UTF-8 text for messages.
#pragma once

#include <Python.h>

#include "module/owned.h"

namespace talvora {

// The UTF-8 form of a `str`; lone surrogates, which have none, become
// U+FFFD once per byte of their "surrogatepass" encoding.
Text to_text_lossy(PyObject* str) noexcept;

// str(object) for a message. When str() fails, the failure goes to the
// unraisable hook and the text is "<unprintable {type} object>".
Text display_object(PyObject* object) noexcept;

// The __qualname__ of a type, or "<failed to extract type name>".
Text type_qualname(PyTypeObject* type) noexcept;

} // namespace talvora
