// src/tools/binding/buffer_input.cpp: objects with the buffer protocol. The
// buffer is held from PyObject_GetBuffer until the count is done, so an
// owner that tries to resize or close it meanwhile gets a BufferError.
// Contiguous buffers are counted in place; strided ones (a slice with a step,
// a transposed or broadcast array) are walked in C order a block at a time,
// never copied whole.
#include "tools/binding/byte_input.h"

#include "pool/pool.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace nb = nanobind;

namespace talvora::tools {
namespace {

class HeldBuffer {
  public:
    // Strides and format, read-only: indirect (suboffset) layouts are left
    // to the exporter to refuse.
    explicit HeldBuffer(PyObject* object) {
        if (PyObject_GetBuffer(object, &view_, PyBUF_RECORDS_RO) != 0) throw nb::python_error();
    }
    HeldBuffer(const HeldBuffer&) = delete;
    HeldBuffer& operator=(const HeldBuffer&) = delete;
    ~HeldBuffer() { PyBuffer_Release(&view_); }

    const Py_buffer& view() const { return view_; }

  private:
    Py_buffer view_{};
};

[[noreturn]] void refuse_wide_items(PyObject* object, const Py_buffer& view) {
    PyErr_Format(PyExc_TypeError,
                 "'%T' has items of %zd bytes (format '%s'), and only buffers of 1-byte "
                 "items are counted; to measure its raw bytes, pass memoryview(x).cast('B')",
                 object, view.itemsize, view.format != nullptr ? view.format : "B");
    throw nb::python_error();
}

// The items of a strided buffer of 1-byte items in C order: an odometer over
// the outer dimensions and a position in the innermost one.
class StridedWalk {
  public:
    explicit StridedWalk(const Py_buffer& view)
        : view_(view), outer_(static_cast<std::size_t>(view.ndim - 1), 0) {}

    // Copies up to capacity further items to out; returns how many.
    std::size_t copy_to(std::uint8_t* out, std::size_t capacity) {
        const std::size_t last = outer_.size();
        const Py_ssize_t row_len = view_.shape[last];
        const Py_ssize_t step = view_.strides[last];
        std::size_t copied = 0;
        while (copied < capacity && !done_) {
            const std::uint8_t* row = row_start();
            const std::size_t take =
                std::min(capacity - copied, static_cast<std::size_t>(row_len - inner_));
            const std::uint8_t* from = row + inner_ * step;
            if (step == 1) {
                std::memcpy(out + copied, from, take);
            } else {
                for (std::size_t i = 0; i < take; ++i)
                    out[copied + i] = from[static_cast<Py_ssize_t>(i) * step];
            }
            copied += take;
            inner_ += static_cast<Py_ssize_t>(take);
            if (inner_ == row_len) next_row();
        }
        return copied;
    }

  private:
    const std::uint8_t* row_start() const {
        const auto* p = static_cast<const std::uint8_t*>(view_.buf);
        for (std::size_t d = 0; d < outer_.size(); ++d)
            p += outer_[d] * view_.strides[d];
        return p;
    }

    void next_row() {
        inner_ = 0;
        for (std::size_t d = outer_.size(); d-- > 0;) {
            if (++outer_[d] < view_.shape[d]) return;
            outer_[d] = 0;
        }
        done_ = true;
    }

    const Py_buffer& view_;
    std::vector<Py_ssize_t> outer_;
    Py_ssize_t inner_ = 0;
    bool done_ = false;
};

StreamPart summarize_strided(const Py_buffer& view) {
    const std::size_t len = static_cast<std::size_t>(view.len);
    const std::size_t block_len = std::min(len, BLOCK_LEN);
    const auto block = std::make_unique_for_overwrite<std::uint8_t[]>(block_len);
    StridedWalk walk(view);
    StreamPart part;
    auto walk_all = [&] {
        for (std::size_t done = 0; done < len;) {
            const std::size_t got = walk.copy_to(block.get(), block_len);
            append(part, summarize_parallel({block.get(), got}, global_pool()));
            done += got;
        }
    };
    if (len < RELEASE_LOCK_MIN_LEN) {
        walk_all();
    } else {
        nb::gil_scoped_release released;
        walk_all();
    }
    return part;
}

} // namespace

StreamPart summarize_buffer(nb::handle data) {
    const HeldBuffer held(data.ptr());
    const Py_buffer& view = held.view();
    if (view.itemsize != 1) refuse_wide_items(data.ptr(), view);
    if (view.len == 0) return {};
    if (PyBuffer_IsContiguous(&view, 'C'))
        return summarize_bytes(
            {static_cast<const std::uint8_t*>(view.buf), static_cast<std::size_t>(view.len)});
    return summarize_strided(view);
}

} // namespace talvora::tools
