// src/tools/binding/contiguous_input.h: the bytes of a `data` argument as one
// contiguous run, for a scan: its windows reach across any block boundary.
#pragma once

#include "entropy/entropy.h"

#include <nanobind/nanobind.h>

#include <cstdint>
#include <memory>

namespace talvora::tools {

// A str's UTF-8 bytes and a C-contiguous buffer are used in place, the
// buffer held (so its owner cannot resize or close it) until this is gone;
// a strided buffer or a sequence of ints is copied. What histogram() refuses
// is refused with the same error.
class ContiguousInput {
  public:
    explicit ContiguousInput(nanobind::handle data);
    ContiguousInput(const ContiguousInput&) = delete;
    ContiguousInput& operator=(const ContiguousInput&) = delete;
    ~ContiguousInput();

    ByteView bytes() const { return bytes_; }

  private:
    void from_buffer(nanobind::handle data);
    void from_sequence(nanobind::handle data);

    Py_buffer buffer_{};
    bool holds_buffer_ = false;
    nanobind::object copy_owner_;                  // a bytes object holding a copy
    std::unique_ptr<std::uint8_t[]> strided_copy_; // a strided buffer in C order
    ByteView bytes_;
};

} // namespace talvora::tools
