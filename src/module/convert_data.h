// src/module/convert_data.h: the `data` argument of the measures, converted
// into bytes the measure can read, and the composed error when it cannot be.
#pragma once

#include <Python.h>

#include <string_view>

#include "entropy/entropy.h"
#include "module/byte_buffer.h"
#include "module/errors.h"

namespace talvora {

// The bytes of a converted input. An immutable object (a bytes, or a str's
// cached UTF-8 form) is read in place under a strong reference of its own:
// no caller can tell that from a copy. Anything that could change while it
// is measured (a bytearray, a sequence) is copied. Releasing the value drops
// the reference or frees the copy.
class InputBytes {
  public:
    static InputBytes borrowed(PyObject* owner, const char* bytes, Py_ssize_t size) noexcept {
        return InputBytes(
            PyRef::borrow(owner),
            {reinterpret_cast<const std::uint8_t*>(bytes), static_cast<std::size_t>(size)},
            ByteBuffer());
    }
    static InputBytes copied(ByteBuffer copy) noexcept {
        const ByteView view = copy.view();
        return InputBytes(PyRef(), view, std::move(copy));
    }

    ByteView view() const noexcept { return view_; }

  private:
    InputBytes(PyRef owner, ByteView view, ByteBuffer copy) noexcept
        : owner_(std::move(owner)), copy_(std::move(copy)), view_(view) {}

    PyRef owner_;
    ByteBuffer copy_;
    ByteView view_;
};

// The converted `data`: the UTF-8 bytes of a str, or the bytes of a bytes,
// bytearray or sequence of ints 0..255. The measures read both alike.
struct BytesOrStr {
    InputBytes bytes;

    ByteView view() const noexcept { return bytes.view(); }
};

// Tries Str, then Bytes. A failure is one TypeError that explains both
// attempts, with the note "while processing 'data'". Keeps no reference to
// `data` beyond the returned value.
PyResult<BytesOrStr> convert_data(PyObject* data) noexcept;

// "failed to extract field {field_path}.0", caused by `inner`.
PyErrValue variant_field_error(PyErrValue inner, std::string_view field_path) noexcept;
// The three-line TypeError naming both variants and the chain of causes of
// each variant's error.
PyErrValue variant_union_error(PyErrValue str_error, PyErrValue bytes_error) noexcept;

} // namespace talvora
