// src/tools/stream/chi_square.cpp: the chi-square statistic of a histogram
// against the uniform distribution, and its upper-tail probability for 255
// degrees of freedom.
#include "tools/stream/exact_ratio.h"
#include "tools/stream/report.h"

#include <cmath>
#include <limits>

namespace talvora::tools {
namespace {

// Half the degrees of freedom: the shape of the gamma distribution.
constexpr long double SHAPE = 255.0L / 2;
constexpr long double EPSILON = std::numeric_limits<long double>::epsilon();
constexpr int MAX_ITERATIONS = 100'000;

// e^-x x^a / Gamma(a), the factor both expansions share, in long double so
// that its exponent (near -700 where the tail nears 1e-300) loses nothing a
// double result would see.
long double gamma_factor(long double x) {
    static const long double log_gamma_shape = [] {
        int sign;
        return lgammal_r(SHAPE, &sign); // the reentrant form: no global sign
    }();
    return std::exp(SHAPE * std::log(x) - x - log_gamma_shape);
}

// P(a, x) by its power series; converges quickly for x < a + 1.
long double lower_by_series(long double x) {
    long double term = 1.0L / SHAPE;
    long double sum = term;
    for (int k = 1; k < MAX_ITERATIONS; ++k) {
        term *= x / (SHAPE + k);
        sum += term;
        if (term < sum * EPSILON) break;
    }
    return sum * gamma_factor(x);
}

// Q(a, x) by its continued fraction (modified Lentz); for x >= a + 1.
long double upper_by_continued_fraction(long double x) {
    constexpr long double TINY = std::numeric_limits<long double>::min() / EPSILON;
    long double b = x + 1.0L - SHAPE;
    long double c = 1.0L / TINY;
    long double d = 1.0L / b;
    long double h = d;
    for (int i = 1; i < MAX_ITERATIONS; ++i) {
        const long double an = -i * (i - SHAPE);
        b += 2.0L;
        d = an * d + b;
        if (std::fabs(d) < TINY) d = TINY;
        c = b + an / c;
        if (std::fabs(c) < TINY) c = TINY;
        d = 1.0L / d;
        const long double delta = d * c;
        h *= delta;
        if (std::fabs(delta - 1.0L) < EPSILON) break;
    }
    return gamma_factor(x) * h;
}

} // namespace

unsigned __int128 sum_of_squares(const ByteHistogram& histogram) {
    unsigned __int128 sum = 0;
    for (const std::uint64_t count : histogram.counts)
        sum += static_cast<unsigned __int128>(count) * count;
    return sum;
}

double chi_square_statistic(unsigned __int128 sum_squares, std::uint64_t n) {
    // 256 * sum(count^2) - n^2 >= 0 by Cauchy-Schwarz; it passes 2^128 only
    // for n near 2^64, but then it must still be exact.
    return difference_ratio(UInt256::product(256, sum_squares), UInt256::product(n, n), UInt256(n));
}

double chi_square_p_value(double chi_square) {
    if (std::isnan(chi_square)) return chi_square;
    const long double x = static_cast<long double>(chi_square) / 2;
    if (x <= 0) return 1.0;
    if (x < SHAPE + 1) return static_cast<double>(1.0L - lower_by_series(x));
    return static_cast<double>(upper_by_continued_fraction(x));
}

} // namespace talvora::tools
