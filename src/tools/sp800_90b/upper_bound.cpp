// src/tools/sp800_90b/upper_bound.cpp: the upper confidence bound.
#include "tools/sp800_90b/upper_bound.h"

#include <algorithm>
#include <cmath>

namespace talvora::tools::sp800_90b {

double upper_bound(double p, std::uint64_t n) {
    return std::min(1.0, p + Z * std::sqrt(p * (1.0 - p) / static_cast<double>(n - 1)));
}

long double upper_bound_extended(long double p, std::uint64_t n) {
    return std::min(1.0L,
                    p + Z_EXTENDED * std::sqrt(p * (1.0L - p) / static_cast<long double>(n - 1)));
}

} // namespace talvora::tools::sp800_90b
