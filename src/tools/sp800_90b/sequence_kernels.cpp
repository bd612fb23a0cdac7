// src/tools/sp800_90b/sequence_kernels.cpp: the kernels, 16 bytes at a time
// with SSE2 (part of every x86-64), plain loops for the tails and for other
// machines.
//
// Runs are found in bit words: a run of equal flags is a run of zeros in
// the word of changes, and the longest run so far is rarely beaten, so most
// words need only a test "has a run longer than the best" (a few shifts)
// rather than a walk over their bits.
#include "tools/sp800_90b/sequence_kernels.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace talvora::tools::sp800_90b {

namespace {

#if defined(__x86_64__)
// 16 flags as bits: those lanes of `nonzero` that are not 0.
std::uint64_t nonzero_bits(__m128i nonzero) noexcept {
    const __m128i zero = _mm_cmpeq_epi8(nonzero, _mm_setzero_si128());
    return ~static_cast<std::uint64_t>(_mm_movemask_epi8(zero)) & 0xffffu;
}

__m128i load(const std::uint8_t* p) noexcept {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
#endif

// Whether z holds a run of at least len ones (len >= 1).
bool has_run(std::uint64_t z, std::uint64_t len) noexcept {
    if (len > 64) return false;
    // The bits left in z start runs of `covered` ones; each step lengthens
    // them.
    for (std::uint64_t covered = 1; covered < len && z != 0;) {
        const std::uint64_t step = std::min(covered, len - covered);
        z &= z >> step;
        covered += step;
    }
    return z != 0;
}

// The set bits of w. Without a popcount instruction in the baseline x86-64
// set, std::popcount is a library call; this is a dozen inline operations.
std::uint64_t ones(std::uint64_t w) noexcept {
    w -= (w >> 1) & 0x5555555555555555u;
    w = (w & 0x3333333333333333u) + ((w >> 2) & 0x3333333333333333u);
    w = (w + (w >> 4)) & 0x0f0f0f0f0f0f0f0fu;
    return (w * 0x0101010101010101u) >> 56;
}

std::uint64_t longest_ones(std::uint64_t z) noexcept {
    std::uint64_t len = 0;
    for (; z != 0; ++len)
        z &= z >> 1;
    return len;
}

} // namespace

void pack_descents(std::span<const std::uint8_t> b, std::span<std::uint64_t> words) noexcept {
    const std::size_t n = b.size();
    const std::size_t flags = n < 2 ? 0 : n - 1;
    std::size_t w = 0;
#if defined(__x86_64__)
    // Each block of 64 reads one byte past its flags.
    for (; 64 * w + 64 < n; ++w) {
        const std::uint8_t* p = b.data() + 64 * w;
        std::uint64_t word = 0;
        for (int q = 0; q < 4; ++q)
            word |= nonzero_bits(_mm_subs_epu8(load(p + 16 * q), load(p + 16 * q + 1))) << (16 * q);
        words[w] = word;
    }
#endif
    for (; 64 * w < flags; ++w) {
        std::uint64_t word = 0;
        for (std::size_t i = 64 * w; i < std::min(flags, 64 * w + 64); ++i)
            word |= static_cast<std::uint64_t>(b[i] > b[i + 1]) << (i % 64);
        words[w] = word;
    }
}

void pack_below(std::span<const std::uint8_t> b, std::uint8_t threshold,
                std::span<std::uint64_t> words) noexcept {
    const std::size_t n = b.size();
    std::size_t w = 0;
#if defined(__x86_64__)
    const __m128i t = _mm_set1_epi8(static_cast<char>(threshold));
    for (; 64 * w + 64 <= n; ++w) {
        const std::uint8_t* p = b.data() + 64 * w;
        std::uint64_t word = 0;
        for (int q = 0; q < 4; ++q)
            word |= nonzero_bits(_mm_subs_epu8(t, load(p + 16 * q))) << (16 * q);
        words[w] = word;
    }
#endif
    for (; 64 * w < n; ++w) {
        std::uint64_t word = 0;
        for (std::size_t i = 64 * w; i < std::min(n, 64 * w + 64); ++i)
            word |= static_cast<std::uint64_t>(b[i] < threshold) << (i % 64);
        words[w] = word;
    }
}

Runs flag_runs(std::span<const std::uint64_t> words, std::size_t m) noexcept {
    if (m == 0) return {};
    // Change i (f_i != f_{i+1}) for i < m - 1; a run of k equal flags is a
    // run of k - 1 zeros among the changes.
    const std::size_t changes = m - 1;
    const std::size_t used = (changes + 63) / 64;
    std::uint64_t count = 1, best = 0, carry = 0;
    for (std::size_t w = 0; w < used; ++w) {
        const std::uint64_t next = w + 1 < words.size() ? words[w + 1] : 0;
        const std::uint64_t valid =
            64 * w + 64 <= changes ? ~std::uint64_t{0} : (std::uint64_t{1} << (changes % 64)) - 1;
        const std::uint64_t change = (words[w] ^ (words[w] >> 1 | next << 63)) & valid;
        count += ones(change);
        const std::uint64_t same = ~change & valid; // ones: no change
        if (same == ~std::uint64_t{0}) {
            carry += 64;
            continue;
        }
        best = std::max(best, carry + static_cast<std::uint64_t>(std::countr_one(same)));
        if (has_run(same, best + 1)) best = std::max(best, longest_ones(same));
        carry = static_cast<std::uint64_t>(std::countl_one(same));
    }
    best = std::max(best, carry);
    return {count, best + 1};
}

std::uint64_t count_flags(std::span<const std::uint64_t> words) noexcept {
    std::uint64_t total = 0;
    for (const std::uint64_t w : words)
        total += ones(w);
    return total;
}

namespace {

// The stretch of excursions max_excursion decides at once: long enough that
// its sum costs little against the walk over it, short enough that a skip
// saves most of a sequence.
constexpr std::size_t EXCURSION_STRETCH = 1024;

// Sum of x[begin .. end).
std::uint64_t byte_sum(std::span<const std::uint8_t> x, std::size_t begin,
                       std::size_t end) noexcept {
    std::uint64_t sum = 0;
    std::size_t i = begin;
#if defined(__x86_64__)
    for (; i + 16 <= end; i += 16) {
        const __m128i sums = _mm_sad_epu8(load(&x[i]), _mm_setzero_si128());
        sum += static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums)) +
               static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    }
#endif
    for (; i < end; ++i)
        sum += x[i];
    return sum;
}

// The largest excursion of positions [begin, end), the bytes before begin
// summing to sum; largest if that is larger.
double stretch_excursion(std::span<const std::uint8_t> x, std::size_t begin, std::size_t end,
                         std::int64_t sum, double mean, double largest) noexcept {
    std::size_t i = begin;
#if defined(__x86_64__)
    // Four running sums at a time in 32-bit lanes (they stay below 2^31 for
    // fewer than 2^23 samples), converted exactly to double.
    if (x.size() < (std::size_t{1} << 23)) {
        const __m128i zero = _mm_setzero_si128();
        const __m128d mean2 = _mm_set1_pd(mean), four = _mm_set1_pd(4);
        const __m128d sign = _mm_set1_pd(-0.0);
        __m128i carry = _mm_set1_epi32(static_cast<int>(sum));
        const auto first = static_cast<double>(begin);
        __m128d count01 = _mm_set_pd(first + 2, first + 1);
        __m128d count23 = _mm_set_pd(first + 4, first + 3);
        __m128d max01 = _mm_set1_pd(largest), max23 = max01;
        for (; i + 4 <= end; i += 4) {
            std::uint32_t four_bytes;
            std::memcpy(&four_bytes, &x[i], 4);
            __m128i v = _mm_unpacklo_epi16(
                _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(four_bytes)), zero), zero);
            v = _mm_add_epi32(v, _mm_slli_si128(v, 4));
            v = _mm_add_epi32(v, _mm_slli_si128(v, 8));
            v = _mm_add_epi32(v, carry);
            carry = _mm_shuffle_epi32(v, 0xff);
            const __m128d d01 = _mm_sub_pd(_mm_cvtepi32_pd(v), _mm_mul_pd(count01, mean2));
            const __m128d d23 =
                _mm_sub_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(v, 0xee)), _mm_mul_pd(count23, mean2));
            max01 = _mm_max_pd(max01, _mm_andnot_pd(sign, d01));
            max23 = _mm_max_pd(max23, _mm_andnot_pd(sign, d23));
            count01 = _mm_add_pd(count01, four);
            count23 = _mm_add_pd(count23, four);
        }
        const __m128d both = _mm_max_pd(max01, max23);
        largest = std::max(_mm_cvtsd_f64(both), _mm_cvtsd_f64(_mm_unpackhi_pd(both, both)));
        sum = _mm_cvtsi128_si32(carry);
    }
#endif
    for (; i < end; ++i) {
        sum += x[i];
        const double d = std::fabs(static_cast<double>(sum) -
                                   static_cast<double>(static_cast<std::int64_t>(i + 1)) * mean);
        largest = d > largest ? d : largest;
    }
    return largest;
}

} // namespace

double max_excursion(std::span<const std::uint8_t> x, double mean, double beyond) noexcept {
    double largest = 0;
    std::int64_t sum = 0;
    for (std::size_t begin = 0; begin < x.size(); begin += EXCURSION_STRETCH) {
        const std::size_t end = std::min(x.size(), begin + EXCURSION_STRETCH);
        const auto stretch_sum = static_cast<std::int64_t>(byte_sum(x, begin, end));
        // Bytes are not negative, so inside the stretch the running sum lies
        // between the sums at its ends while (i + 1) mean grows from its
        // first to its last value: every excursion there is within bound.
        const double low = static_cast<double>(sum) - static_cast<double>(end) * mean;
        const double high =
            static_cast<double>(sum + stretch_sum) - static_cast<double>(begin + 1) * mean;
        const double bound = std::max(std::fabs(low), std::fabs(high));
        // The margin covers the rounding of the excursions and of the bound.
        if (bound * (1 + 1e-9) + 1 >= beyond)
            largest = stretch_excursion(x, begin, end, sum, mean, largest);
        sum += stretch_sum;
    }
    return largest;
}

namespace {

#if defined(__x86_64__)
// Byte counters, each taking up to 255 matches.
struct MatchLanes {
    static constexpr int ROUNDS = 255;
    static __m128i add(__m128i counts, __m128i a, __m128i c) {
        return _mm_sub_epi8(counts, _mm_cmpeq_epi8(a, c));
    }
    static std::uint64_t total(__m128i counts) {
        const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
        return static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums)) +
               static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    }
};

// 32-bit sums of products; a lane gains at most 2 * 255^2 per step.
struct ProductLanes {
    static constexpr int ROUNDS = 4096;
    static __m128i add(__m128i sums, __m128i a, __m128i c) {
        const __m128i zero = _mm_setzero_si128();
        sums = _mm_add_epi32(
            sums, _mm_madd_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(c, zero)));
        return _mm_add_epi32(
            sums, _mm_madd_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(c, zero)));
    }
    static std::uint64_t total(__m128i sums) {
        alignas(16) std::uint32_t lanes[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), sums);
        return std::uint64_t{lanes[0]} + lanes[1] + lanes[2] + lanes[3];
    }
};
#else
struct MatchLanes {};
struct ProductLanes {};
#endif

// Σ term(b[i], b[i + lag]) over i < n - lag; on x86-64 16 pairs at a time
// into Lanes, emptied into the total before they can overflow.
template <class Lanes, class Term>
std::uint64_t lagged_sum(std::span<const std::uint8_t> b, std::size_t lag, Term term) noexcept {
    const std::size_t n = b.size();
    std::uint64_t total = 0;
    std::size_t i = 0;
#if defined(__x86_64__)
    while (i + 16 + lag <= n) {
        __m128i lanes = _mm_setzero_si128();
        for (int r = 0; r < Lanes::ROUNDS && i + 16 + lag <= n; ++r, i += 16)
            lanes = Lanes::add(lanes, load(&b[i]), load(&b[i + lag]));
        total += Lanes::total(lanes);
    }
#endif
    for (; i + lag < n; ++i)
        total += term(b[i], b[i + lag]);
    return total;
}

} // namespace

std::uint64_t count_matches(std::span<const std::uint8_t> b, std::size_t lag) noexcept {
    return lagged_sum<MatchLanes>(
        b, lag, [](std::uint8_t a, std::uint8_t c) { return std::uint64_t{a == c}; });
}

std::uint64_t sum_products(std::span<const std::uint8_t> x, std::size_t lag) noexcept {
    return lagged_sum<ProductLanes>(
        x, lag, [](std::uint8_t a, std::uint8_t c) { return std::uint64_t{a} * c; });
}

} // namespace talvora::tools::sp800_90b
