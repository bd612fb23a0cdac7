// src/tools/binding/byte_input.h: the part of any `data` argument: a str's
// UTF-8 bytes, a buffer of 1-byte items in C order, or a sequence of ints
// 0..255; anything else is refused with an error that says what is taken.
#pragma once

#include "tools/stream/stream_part.h"

#include <nanobind/nanobind.h>

#include <cstddef>

namespace talvora::tools {

// Inputs from this length on are counted with the interpreter lock released.
inline constexpr std::size_t RELEASE_LOCK_MIN_LEN = std::size_t{64} << 10;
// Inputs that are not contiguous bytes are counted in blocks of this length.
inline constexpr std::size_t BLOCK_LEN = std::size_t{1} << 20;

// Raises (through nanobind) TypeError or ValueError for what is refused,
// and passes on the exporter's own error for a buffer it will not give.
StreamPart summarize_data(nanobind::handle data);

// The part of bytes that the caller keeps alive and unchanged; long ones
// are counted on the worker pool without the interpreter lock.
StreamPart summarize_bytes(ByteView bytes);

// Builds a part block by block, for inputs read a block at a time.
class BlockParts {
  public:
    void add(ByteView block) { append(part_, summarize_bytes(block)); }
    const StreamPart& part() const { return part_; }

  private:
    StreamPart part_;
};

// The two kinds summarize_data hands on: objects with the buffer protocol,
// and sequences.
StreamPart summarize_buffer(nanobind::handle data);
StreamPart summarize_sequence(nanobind::handle data);

} // namespace talvora::tools
