// src/tools/sp800_90b/bisection.cpp: the closeness test of the root search.
#include "tools/sp800_90b/bisection.h"

#include <bit>
#include <cfloat>
#include <cstdint>

namespace talvora::tools::sp800_90b {

bool close_enough(double a, double b) noexcept {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b) return true;
    if (std::isinf(a) != std::isinf(b)) return false;
    const double small = std::fabs(a) < std::fabs(b) ? a : b;
    const double large = std::fabs(a) < std::fabs(b) ? b : a;
    const double distance = std::fabs(large - small);
    const double scaled = std::fabs(large) * DBL_EPSILON;
    if (std::fabs(small) < DBL_MIN || distance < DBL_MIN || std::isinf(distance) ||
        scaled < DBL_MIN)
        return distance <= DBL_MIN;
    if (distance <= scaled) return true;
    if (std::signbit(small) != std::signbit(large)) return false;
    const auto bits_small = std::bit_cast<std::uint64_t>(std::fabs(small));
    const auto bits_large = std::bit_cast<std::uint64_t>(std::fabs(large));
    return bits_large - bits_small <= 4;
}

} // namespace talvora::tools::sp800_90b
