// src/tools/stream/kernel_avx512.cpp: the kernel for AVX-512 with VBMI and
// VNNI: one 64-byte load serves the 48 group tests and 48 pairs of a half
// step, while the byte counting runs on the scalar side.
#include "tools/stream/kernel_blocks.h"

#include <immintrin.h>

#define TALVORA_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vnni")))

namespace talvora::tools {
namespace {

using namespace vector_kernel;

// Group tests are done in lanes of 64 bits, eight offsets per vector; a
// half has SQUARES vectors of them, plus the first of the next half,
// whose squares the last vector's y needs.
constexpr int SQUARES = HALF_LEN / 8;

// The index that puts x of offsets 8 * j + i (i = 0..7) into lane i.
TALVORA_AVX512 __m512i x_index(int j) {
    alignas(64) std::uint8_t index[64];
    for (int i = 0; i < 8; ++i)
        big_endian_lane(index + 8 * i, 8 * j + i);
    return _mm512_load_si512(index);
}

// The three low bytes of every 64-bit lane.
constexpr __mmask64 X_BYTES = 0x0707070707070707ull;
// The 12 dword lanes of S_xy that cover a half's 48 pairs.
constexpr __mmask16 PAIR_LANES = 0x0fff;

// x^2 of the groups whose x index picks from bytes.
TALVORA_AVX512 inline __m512i x_squares(__m512i bytes, __m512i index) {
    const __m512i x = _mm512_maskz_permutexvar_epi8(X_BYTES, index, bytes);
    return _mm512_mul_epu32(x, x);
}

// Adds to lane i of inside whether the group at offset q + i is inside,
// from the squares at q + i (x^2) and at q + i + 3 (y^2), the latter in
// lanes 3 to 7 of squares and 0 to 2 of later.
TALVORA_AVX512 inline __m512i add_inside(__m512i inside, __m512i squares, __m512i later) {
    const __m512i radius_squared = _mm512_set1_epi64(static_cast<long long>(RADIUS_SQUARED));
    const __m512i sum = _mm512_add_epi64(squares, _mm512_alignr_epi64(later, squares, 3));
    const __mmask8 in = _mm512_cmple_epu64_mask(sum, radius_squared);
    return _mm512_mask_add_epi64(inside, in, inside, _mm512_set1_epi64(1));
}

// The running sums of a block, in lanes.
struct Lanes {
    // S_xy less 128 * (sum of the bytes the pairs start with), in dword
    // lanes: each product is taken as b[i] * (b[i + 1] - 128).
    __m512i pairs_biased;
    // Lane i of inside_j: points inside at offset 8 * j + i of a half.
    // Named one by one (as are the indexes), not in arrays: so they stay
    // in registers beside the counting's stores.
    __m512i inside_0, inside_1, inside_2, inside_3, inside_4, inside_5;
    // The squares at the start of the next half.
    __m512i squares_0;
};

struct Indexes {
    __m512i index_1, index_2, index_3, index_4, index_5, index_6;
};

// The pairs and groups starting in the half at p; returns the 64 bytes
// loaded from p.
TALVORA_AVX512 inline __m512i add_half(const std::uint8_t* p, const Indexes& x, Lanes& l) {
    const __m512i bytes = _mm512_loadu_si512(p);
    const __m512i following = _mm512_loadu_si512(p + 1);
    l.pairs_biased = _mm512_mask_dpbusd_epi32(l.pairs_biased, PAIR_LANES, bytes,
                                              _mm512_xor_si512(following, _mm512_set1_epi8(-128)));
    const __m512i squares_1 = x_squares(bytes, x.index_1);
    l.inside_0 = add_inside(l.inside_0, l.squares_0, squares_1);
    const __m512i squares_2 = x_squares(bytes, x.index_2);
    l.inside_1 = add_inside(l.inside_1, squares_1, squares_2);
    const __m512i squares_3 = x_squares(bytes, x.index_3);
    l.inside_2 = add_inside(l.inside_2, squares_2, squares_3);
    const __m512i squares_4 = x_squares(bytes, x.index_4);
    l.inside_3 = add_inside(l.inside_3, squares_3, squares_4);
    const __m512i squares_5 = x_squares(bytes, x.index_5);
    l.inside_4 = add_inside(l.inside_4, squares_4, squares_5);
    const __m512i squares_6 = x_squares(bytes, x.index_6); // the next half's first
    l.inside_5 = add_inside(l.inside_5, squares_5, squares_6);
    l.squares_0 = squares_6;
    return bytes;
}

TALVORA_AVX512 void run_block(const std::uint8_t* p, std::size_t steps, StreamPart& part) {
    static_assert(SQUARES == 6);
    ByteTables tables;
    const Indexes x = {x_index(1), x_index(2), x_index(3), x_index(4), x_index(5), x_index(6)};
    const __m512i zero = _mm512_setzero_si512();
    Lanes l = {zero, zero, zero, zero,
               zero, zero, zero, x_squares(_mm512_loadu_si512(p), x_index(0))};
    for (std::size_t s = 0; s < steps; ++s, p += STEP_LEN) {
        const __m512i first = add_half(p, x, l);
        const __m512i second = add_half(p + HALF_LEN, x, l);
        // The bytes are counted from a copy of what the halves loaded, not
        // from the input: loads of the same lines by the counting and the
        // vector work kept them from overlapping (on the machines
        // measured, the copy made the whole a fifth faster).
        alignas(64) std::uint8_t copy[HALF_LEN + 64];
        _mm512_store_si512(copy, first);
        _mm512_storeu_si512(copy + HALF_LEN, second);
        tables.add_step(copy);
    }

    const std::uint64_t pair_starts_sum = tables.merge_into(part.counts);
    const __m512i wide =
        _mm512_add_epi64(_mm512_cvtepi32_epi64(_mm512_castsi512_si256(l.pairs_biased)),
                         _mm512_cvtepi32_epi64(_mm512_extracti64x4_epi64(l.pairs_biased, 1)));
    part.sum_xy += static_cast<unsigned __int128>(_mm512_reduce_add_epi64(wide) +
                                                  static_cast<long long>(128 * pair_starts_sum));
    const __m512i inside[SQUARES] = {l.inside_0, l.inside_1, l.inside_2,
                                     l.inside_3, l.inside_4, l.inside_5};
    for (int j = 0; j < SQUARES; ++j) {
        alignas(64) std::uint64_t lanes[8];
        _mm512_store_si512(lanes, inside[j]);
        for (int i = 0; i < 8; ++i)
            part.inside[(8 * j + i) % GROUP_LEN] += lanes[i];
    }
}

bool avx512_supported() {
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vnni");
}

} // namespace

const Kernel AVX512_KERNEL = {"avx512", avx512_supported, add_sums_in_blocks<run_block>};

} // namespace talvora::tools
