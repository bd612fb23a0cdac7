// src/module/convert_data.h: the `data` argument of the measures, converted
// into an owned byte buffer, and the composed error when it cannot be.
#pragma once

#include <Python.h>

#include <string_view>

#include "entropy/entropy.h"
#include "module/errors.h"

namespace talvora {

// The converted `data`: the UTF-8 bytes of a str, or the bytes of a bytes,
// bytearray or sequence of ints 0..255. The measures read both alike.
struct BytesOrStr {
    enum class Variant { Str, Bytes };
    Variant variant;
    OwnedBytes bytes;

    ByteView view() const noexcept { return {bytes.data(), bytes.size()}; }
};

// Tries Str, then Bytes. A failure is one TypeError that explains both
// attempts, with the note "while processing 'data'". Never keeps a
// reference to `data`.
PyResult<BytesOrStr> convert_data(PyObject* data) noexcept;

// "failed to extract field {field_path}.0", caused by `inner`.
PyErrValue variant_field_error(PyErrValue inner, std::string_view field_path) noexcept;
// The three-line TypeError naming both variants and the chain of causes of
// each variant's error.
PyErrValue variant_union_error(PyErrValue str_error, PyErrValue bytes_error) noexcept;
// "{type qualname}: {str(exception)}".
Text describe_error(PyErrValue& error) noexcept;

} // namespace talvora
