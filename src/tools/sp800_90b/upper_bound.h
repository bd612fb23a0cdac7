// src/tools/sp800_90b/upper_bound.h: the 99% upper confidence bound of a
// proportion, in double and in x87 extended precision.
#pragma once

#include <cstdint>

namespace talvora::tools::sp800_90b {

// The 0.995 quantile of the standard normal distribution. The rounded 2.576
// moves bounds in their fifth or sixth digit.
inline constexpr double Z = 2.5758293035489008;
inline constexpr long double Z_EXTENDED = 2.575829303548900384158L;

// min(1, p + Z * sqrt(p (1 - p) / (n - 1))) for a proportion p of n >= 2
// observations.
double upper_bound(double p, std::uint64_t n);
long double upper_bound_extended(long double p, std::uint64_t n);

} // namespace talvora::tools::sp800_90b
