// src/tools/stream/stream_part.h: the summary of a run of bytes that does not
// depend on where in a stream the run lands, and how runs join up.
//
// Two parts append into the part of their concatenation, so a stream may be
// summarised in pieces of any size, on any thread or machine, and still give
// the summary of the whole, bit for bit.
#pragma once

#include "entropy/entropy.h"

#include <array>
#include <cstdint>
#include <limits>

namespace talvora {
class WorkerPool;
}

namespace talvora::tools {

// A Monte Carlo point is drawn from a group of this many bytes.
inline constexpr std::size_t GROUP_LEN = 6;
// Bytes kept at either end of a part: enough to complete, together with the
// neighbour's end, every group straddling the seam.
inline constexpr std::size_t EDGE_LEN = GROUP_LEN - 1;

// Everything a report needs of a run of bytes.
struct StreamPart {
    ByteHistogram counts;
    // Bytes in the part (the sum of counts).
    std::uint64_t n = 0;
    // The sum of b[i] * b[i + 1] over the adjacent pairs inside the part.
    unsigned __int128 sum_xy = 0;
    // The first and the last min(n, 5) bytes, in stream order; the unused
    // entries are zero.
    std::array<std::uint8_t, EDGE_LEN> head{}, tail{};
    // inside[r]: the whole 6-byte groups starting at an offset p of the part
    // with p % 6 == r whose point lies inside the circle.
    std::array<std::uint64_t, GROUP_LEN> inside{};

    friend bool operator==(const StreamPart&, const StreamPart&) = default;
};

// The part of bytes, in one pass on the calling thread.
StreamPart summarize(ByteView bytes);
// The same part, counted on pool (from a thread of the pool or any other).
StreamPart summarize_parallel(ByteView bytes, WorkerPool& pool);

// Whether appending would take the byte count past 2^64 - 1; the caller
// refuses such an append, as no count could hold the result.
inline bool append_overflows(const StreamPart& left, const StreamPart& right) {
    return right.n > std::numeric_limits<std::uint64_t>::max() - left.n;
}

// left becomes the part of left's bytes followed by right's. right may be
// left itself (the bytes twice).
void append(StreamPart& left, const StreamPart& right);

// Whether the point of the group b[0..6) lies inside the circle: x and y are
// its first and last three bytes read big-endian, and the point is inside
// when x^2 + y^2 <= (2^24 - 1)^2.
bool point_inside(const std::uint8_t* group);

} // namespace talvora::tools
