// src/tools/scan/lanes_avx512.cpp: the full-window kernel with AVX-512, eight
// lanes to a vector and masked stores.
// Everything shared is included before the pragma, so it stays built for
// the baseline.
#include "tools/scan/full_windows.h"
#include "tools/scan/window_counts.h"
#include "tools/stream/report.h"

#include <immintrin.h>

#pragma GCC push_options
#pragma GCC target("avx512f")

#include "tools/scan/lane_kernel.h"

namespace talvora::tools {
namespace {

struct Avx512Lanes {
    struct From {
        explicit From(std::size_t lane)
            : low(static_cast<__mmask8>(0xffffu << lane)),
              high(static_cast<__mmask8>((0xffffu << lane) >> 8)) {}

        void fill(double* row, double value) const {
            const __m512d v = _mm512_set1_pd(value);
            _mm512_mask_store_pd(row, low, v);
            _mm512_mask_store_pd(row + 8, high, v);
        }

        __mmask8 low, high;
    };

    static void sum(LaneRows& rows, double* sums, bool spread) {
        __m512d low = _mm512_set1_pd(-0.0);
        __m512d high = low;
        for (auto& row : rows.row) {
            const __m512d row_high = _mm512_load_pd(row + 8);
            low = _mm512_sub_pd(low, _mm512_load_pd(row));
            high = _mm512_sub_pd(high, row_high);
            if (spread) {
                const __m512d last = _mm512_permutexvar_pd(_mm512_set1_epi64(7), row_high);
                _mm512_store_pd(row, last);
                _mm512_store_pd(row + 8, last);
            }
        }
        _mm512_storeu_pd(sums, low);
        _mm512_storeu_pd(sums + 8, high);
    }

    static std::uint64_t max_count(const std::uint64_t* counts) {
        __m512i most = _mm512_loadu_si512(counts);
        for (std::size_t b = 8; b < 256; b += 8)
            most = _mm512_max_epu64(most, _mm512_loadu_si512(counts + b));
        return _mm512_reduce_max_epu64(most);
    }
};

} // namespace

void run_full_windows_avx512(const FullWindowRun& run) {
    run_windows<Avx512Lanes>(run);
}

} // namespace talvora::tools

#pragma GCC pop_options
