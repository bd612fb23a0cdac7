// src/tools/stream/kernel_blocks.h: what the vector kernels share: the
// steps they take and the byte counting done beside the vector work.
//
// A vector kernel walks its input in steps of STEP_LEN bytes; each step
// counts its bytes, adds the pairs starting in it to S_xy and tests the
// groups starting in it. A step is two halves of HALF_LEN bytes, a
// multiple of 6: a lane that holds the group at a given offset of a half
// holds the same alignment in every half, so the points inside are counted
// per lane, both halves into the same lanes.
#pragma once

#include "tools/stream/kernel.h"

#include <algorithm>
#include <cstring>

namespace talvora::tools::vector_kernel {

inline constexpr std::size_t HALF_LEN = 48;
// Two halves, not one: counting the bytes of 48-byte steps ran at a third
// of its speed on one-valued input on the machines measured (the tables'
// increments are the same, so this is the processor's doing).
inline constexpr std::size_t STEP_LEN = 2 * HALF_LEN;
// A step reads up to this many bytes from its start: each half reads the
// 64 bytes at its start and the 64 one byte on.
inline constexpr std::size_t STEP_READS = HALF_LEN + 65;
// Steps between flushes of the 32-bit partial sums: a lane of S_xy gains
// at most 12 products of 255 * 255 a step, so 2048 steps stay below 2^31.
// The byte tables of a block, merged at its end, stay far below 2^32.
inline constexpr std::size_t BLOCK_STEPS = 2048;

inline constexpr std::uint64_t RADIUS_SQUARED = ((1ull << 24) - 1) * ((1ull << 24) - 1);

// How many steps fit in n bytes.
inline std::size_t step_count(std::size_t n) {
    return n < STEP_READS ? 0 : (n - STEP_READS) / STEP_LEN + 1;
}

// Writes the 8 shuffle indexes that put the 3 bytes at offset q, big-
// endian, in the low end of a 64-bit lane; 0x80 (zero) in the rest.
inline void big_endian_lane(std::uint8_t* lane, int q) {
    lane[0] = static_cast<std::uint8_t>(q + 2);
    lane[1] = static_cast<std::uint8_t>(q + 1);
    lane[2] = static_cast<std::uint8_t>(q);
    std::memset(lane + 3, 0x80, 5);
}

// A kernel's sums: its blocks of steps, then the portable kernel on what
// is left, with the block loop's alignments.
template <void (*RUN_BLOCK)(const std::uint8_t* p, std::size_t steps, StreamPart& part)>
void add_sums_in_blocks(ByteView bytes, StreamPart& part) {
    const std::size_t steps = step_count(bytes.size());
    for (std::size_t done = 0; done < steps; done += BLOCK_STEPS)
        RUN_BLOCK(bytes.data() + done * STEP_LEN, std::min(BLOCK_STEPS, steps - done), part);
    add_sums_from(bytes, steps * STEP_LEN, part);
}

// Four tables of 32-bit counters, fed in rotation, so that runs of one byte
// value do not wait on each other's stores (as talvora's counter does).
struct ByteTables {
    alignas(64) std::uint32_t counts[4][256] = {};

    // The bytes of the step at p, two of every eight per table.
    void add_step(const std::uint8_t* p) {
        for (std::size_t at = 0; at < STEP_LEN; at += 8) {
            std::uint64_t word;
            std::memcpy(&word, p + at, sizeof word);
            for (int i = 0; i < 8; ++i)
                counts[i % 4][(word >> (8 * i)) & 0xff]++;
        }
    }

    // Adds the tables into histogram; returns the sum of the byte values
    // they counted.
    std::uint64_t merge_into(ByteHistogram& histogram) const {
        std::uint64_t sum = 0;
        for (std::size_t v = 0; v < 256; ++v) {
            const std::uint64_t total =
                std::uint64_t{counts[0][v]} + counts[1][v] + counts[2][v] + counts[3][v];
            histogram.counts[v] += total;
            sum += total * v;
        }
        return sum;
    }
};

} // namespace talvora::tools::vector_kernel
