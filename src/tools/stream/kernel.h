// src/tools/stream/kernel.h: the one-pass kernels that add up the sums of a
// part (counts, S_xy, points inside for all six alignments), one per
// instruction set, and the choice among them.
#pragma once

#include "tools/stream/stream_part.h"

#include <span>

namespace talvora::tools {

struct Kernel {
    const char* name;
    // Whether this machine can run it.
    bool (*supported)();
    // Adds the counts, sum_xy and inside of bytes to part; leaves n and the
    // edges alone.
    void (*add_sums)(ByteView bytes, StreamPart& part);
};

extern const Kernel SCALAR_KERNEL, AVX2_KERNEL, AVX512_KERNEL;

// Every kernel built in, portable first; all give the same sums.
std::span<const Kernel* const> all_kernels();
// The fastest supported one, chosen on first use.
const Kernel& best_kernel();

// The part of bytes through a given kernel.
StreamPart summarize_with(const Kernel& kernel, ByteView bytes);

// The sums of the bytes from offset from on, as the portable kernel adds
// them: the pairs and groups starting there, alignments counted from the
// start of bytes. The vector kernels finish with it.
void add_sums_from(ByteView bytes, std::size_t from, StreamPart& part);

} // namespace talvora::tools
