// src/module/convert_data.h: the `data` argument of the measures, read where
// it holds its bytes or converted into bytes, and the composed error when
// neither works.
#pragma once

#include <Python.h>

#include <string_view>

#include "entropy/entropy.h"
#include "module/errors.h"

namespace talvora {

using ByteMeasure = double (*)(ByteView bytes);

// Tries Str (the UTF-8 bytes of a str), then Bytes (the bytes of a bytes,
// bytearray or sequence of ints 0..255), and returns `measure` of the bytes
// found. Bytes the input holds are read in place while nothing can change
// them; any other input is copied first, and the copy is freed before this
// returns. A failure is one TypeError that explains both attempts, with the
// note "while processing 'data'", except for an error that must propagate,
// which is returned as it is. Keeps no reference to `data`.
PyResult<double> measure_data(PyObject* data, ByteMeasure measure) noexcept;

// "failed to extract field {field_path}.0", caused by `inner`.
[[gnu::cold, gnu::noinline]] PyErrValue variant_field_error(PyErrValue inner,
                                                            std::string_view field_path) noexcept;
// The three-line TypeError naming both variants and the chain of causes of
// each variant's error; or an error met while describing them that must
// propagate.
[[gnu::cold, gnu::noinline]] PyErrValue variant_union_error(PyErrValue str_error,
                                                            PyErrValue bytes_error) noexcept;

} // namespace talvora
