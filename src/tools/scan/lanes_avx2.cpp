// src/tools/scan/lanes_avx2.cpp: the full-window kernel with AVX2, four lanes
// to a vector.
// Everything shared is included before the pragma, so it stays built for
// the baseline.
#include "tools/scan/full_windows.h"
#include "tools/scan/window_counts.h"
#include "tools/stream/report.h"

#include <immintrin.h>

#pragma GCC push_options
#pragma GCC target("avx2")

#include "tools/scan/lane_kernel.h"

namespace talvora::tools {
namespace {

struct Avx2Lanes {
    static constexpr std::size_t VECTORS = LANES / 4;

    struct From {
        explicit From(std::size_t lane)
            : first(lane / 4), partial(lane % 4 != 0),
              // In the vector that holds lane, the lanes from it on take the
              // value; those before it keep theirs.
              take_new(_mm256_castsi256_pd(
                  _mm256_cmpgt_epi64(_mm256_setr_epi64x(0, 1, 2, 3),
                                     _mm256_set1_epi64x(static_cast<long long>(lane % 4) - 1)))) {}

        void fill(double* row, double value) const {
            const __m256d v = _mm256_set1_pd(value);
            std::size_t q = first;
            if (partial) {
                _mm256_store_pd(row + 4 * q,
                                _mm256_blendv_pd(_mm256_load_pd(row + 4 * q), v, take_new));
                ++q;
            }
            for (; q < VECTORS; ++q)
                _mm256_store_pd(row + 4 * q, v);
        }

        std::size_t first;
        bool partial;
        __m256d take_new;
    };

    static void sum(LaneRows& rows, double* sums, bool spread) {
        __m256d acc[VECTORS];
        for (auto& a : acc)
            a = _mm256_set1_pd(-0.0);
        for (auto& row : rows.row) {
            for (std::size_t q = 0; q < VECTORS; ++q)
                acc[q] = _mm256_sub_pd(acc[q], _mm256_load_pd(row + 4 * q));
            if (spread) {
                const __m256d last = _mm256_broadcast_sd(&row[LANES - 1]);
                for (std::size_t q = 0; q < VECTORS; ++q)
                    _mm256_store_pd(row + 4 * q, last);
            }
        }
        for (std::size_t q = 0; q < VECTORS; ++q)
            _mm256_storeu_pd(sums + 4 * q, acc[q]);
    }

    static std::uint64_t max_count(const std::uint64_t* counts) {
        // Counts of a window in memory are far below 2^63, so the signed
        // comparison orders them.
        __m256i most = _mm256_setzero_si256();
        for (std::size_t b = 0; b < 256; b += 4) {
            const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(counts + b));
            most = _mm256_blendv_epi8(most, c, _mm256_cmpgt_epi64(c, most));
        }
        alignas(32) std::uint64_t lanes[4];
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), most);
        return largest_of_four(lanes);
    }
};

} // namespace

void run_full_windows_avx2(const FullWindowRun& run) {
    run_windows<Avx2Lanes>(run);
}

} // namespace talvora::tools

#pragma GCC pop_options
