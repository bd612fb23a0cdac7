// src/tools/scan/lane_path.cpp: which instruction sets this machine runs, and
// the kernel build for each.
#include "tools/scan/full_windows.h"

#include "module/fatal.h"

namespace talvora::tools {

bool lane_path_supported(LanePath path) noexcept {
    switch (path) {
    case LanePath::Scalar:
        return true;
#ifdef TALVORA_X86_LANES
    case LanePath::Avx2:
        return __builtin_cpu_supports("avx2");
    case LanePath::Avx512:
        return __builtin_cpu_supports("avx512f");
#else
    case LanePath::Avx2:
    case LanePath::Avx512:
        return false;
#endif
    }
    return false;
}

LanePath best_lane_path() noexcept {
    static const LanePath best = lane_path_supported(LanePath::Avx512) ? LanePath::Avx512
                                 : lane_path_supported(LanePath::Avx2) ? LanePath::Avx2
                                                                       : LanePath::Scalar;
    return best;
}

void run_full_windows(const FullWindowRun& run, LanePath path) {
    if (!lane_path_supported(path)) fatal_failure("scan: lane path not supported on this machine");
    switch (path) {
    case LanePath::Scalar:
        return run_full_windows_scalar(run);
#ifdef TALVORA_X86_LANES
    case LanePath::Avx2:
        return run_full_windows_avx2(run);
    case LanePath::Avx512:
        return run_full_windows_avx512(run);
#else
    case LanePath::Avx2:
    case LanePath::Avx512:
        break;
#endif
    }
}

} // namespace talvora::tools
