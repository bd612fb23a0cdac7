// src/tools/sp800_90b/incomplete_gamma.h: the regularised incomplete gamma
// functions, for chi-square p-values.
#pragma once

namespace talvora::tools::sp800_90b {

// Q(a, x) = Γ(a, x) / Γ(a): 1 when x <= 0 or a <= 0.
double upper_incomplete_gamma(double a, double x) noexcept;
// P(a, x) = 1 - Q(a, x): 0 when x <= 0 or a <= 0.
double lower_incomplete_gamma(double a, double x) noexcept;

// The probability that a chi-square variable with df degrees of freedom
// exceeds statistic: Q(df / 2, statistic / 2), and 1 when df or statistic
// is not positive.
double chi_square_p_value(double statistic, double df) noexcept;

} // namespace talvora::tools::sp800_90b
