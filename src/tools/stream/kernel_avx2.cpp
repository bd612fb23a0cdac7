// src/tools/stream/kernel_avx2.cpp: the kernel for AVX2: 16-byte windows,
// each broadcast to both halves of a register, give eight group tests; the
// pairs are multiplied in 16-bit lanes; the byte counting runs beside.
#include "tools/stream/kernel_blocks.h"

#include <immintrin.h>

#define TALVORA_AVX2 __attribute__((target("avx2")))

namespace talvora::tools {
namespace {

using namespace vector_kernel;

constexpr int WINDOWS = HALF_LEN / 8;

// A shuffle that puts the big-endian x of the groups at the offsets first,
// first + 2, first + 4 and first + 6 of a 16-byte window (the last two in
// the upper half) into the four 64-bit lanes.
TALVORA_AVX2 __m256i group_shuffle(int first) {
    alignas(32) std::uint8_t index[32];
    for (int lane = 0; lane < 4; ++lane)
        big_endian_lane(index + 8 * lane, first + 2 * lane);
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(index));
}

struct Shuffles {
    // x and y of the groups at the even and the odd offsets of a window.
    __m256i x_even, x_odd, y_even, y_odd;
};

TALVORA_AVX2 inline __m256i square_at(__m256i window, __m256i shuffle) {
    const __m256i value = _mm256_shuffle_epi8(window, shuffle);
    return _mm256_mul_epu32(value, value);
}

// -1 in dword lane i where the group at offset q + i of the window at q
// lies outside the circle.
TALVORA_AVX2 inline __m256i outside(const std::uint8_t* window_at, const Shuffles& s) {
    const __m256i window =
        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(window_at)));
    const __m256i radius_squared = _mm256_set1_epi64x(static_cast<long long>(RADIUS_SQUARED));
    // Values stay below 2^49, so the signed comparison is the unsigned one.
    const __m256i even = _mm256_cmpgt_epi64(
        _mm256_add_epi64(square_at(window, s.x_even), square_at(window, s.y_even)), radius_squared);
    const __m256i odd = _mm256_cmpgt_epi64(
        _mm256_add_epi64(square_at(window, s.x_odd), square_at(window, s.y_odd)), radius_squared);
    // Even offsets from the low dwords of even, odd ones from odd's.
    return _mm256_blend_epi32(even, odd, 0b10101010);
}

// b[i] * b[i + 1] for the 16 pairs starting at p, summed in dword pairs.
TALVORA_AVX2 inline __m256i pair_products(const std::uint8_t* p) {
    const __m256i x = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    const __m256i y =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1)));
    return _mm256_madd_epi16(x, y);
}

TALVORA_AVX2 void run_block(const std::uint8_t* p, std::size_t steps, StreamPart& part) {
    ByteTables tables;
    const Shuffles s = {group_shuffle(0), group_shuffle(1), group_shuffle(3), group_shuffle(4)};
    // Lane i of outside_j: points outside at offset 8 * j + i of a half;
    // named one by one so that they stay in registers.
    __m256i outside_0 = _mm256_setzero_si256(), outside_1 = outside_0, outside_2 = outside_0,
            outside_3 = outside_0, outside_4 = outside_0, outside_5 = outside_0;
    static_assert(WINDOWS == 6);
    __m256i pairs = _mm256_setzero_si256();
    for (std::size_t step = 0; step < steps; ++step, p += STEP_LEN) {
        for (const std::uint8_t* half = p; half < p + STEP_LEN; half += HALF_LEN) {
            outside_0 = _mm256_sub_epi32(outside_0, outside(half, s));
            outside_1 = _mm256_sub_epi32(outside_1, outside(half + 8, s));
            outside_2 = _mm256_sub_epi32(outside_2, outside(half + 16, s));
            outside_3 = _mm256_sub_epi32(outside_3, outside(half + 24, s));
            outside_4 = _mm256_sub_epi32(outside_4, outside(half + 32, s));
            outside_5 = _mm256_sub_epi32(outside_5, outside(half + 40, s));
            pairs = _mm256_add_epi32(pairs, pair_products(half));
            pairs = _mm256_add_epi32(pairs, pair_products(half + 16));
            pairs = _mm256_add_epi32(pairs, pair_products(half + 32));
        }
        tables.add_step(p);
    }

    tables.merge_into(part.counts);
    alignas(32) std::uint32_t lanes[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), pairs);
    for (const std::uint32_t lane : lanes)
        part.sum_xy += lane;
    const __m256i outside[WINDOWS] = {outside_0, outside_1, outside_2,
                                      outside_3, outside_4, outside_5};
    const std::uint64_t halves = 2 * steps;
    for (int j = 0; j < WINDOWS; ++j) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), outside[j]);
        for (int i = 0; i < 8; ++i)
            part.inside[(8 * j + i) % GROUP_LEN] += halves - lanes[i];
    }
}

bool avx2_supported() {
    return __builtin_cpu_supports("avx2");
}

} // namespace

const Kernel AVX2_KERNEL = {"avx2", avx2_supported, add_sums_in_blocks<run_block>};

} // namespace talvora::tools
