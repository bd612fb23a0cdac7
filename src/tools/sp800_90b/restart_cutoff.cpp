// src/tools/sp800_90b/restart_cutoff.cpp: the exact distribution of the
// largest count among n draws, instead of the reference tool's 5,000,000
// simulated restarts: the same quantile, without the noise and in a
// fraction of the time.
//
// P(every one of m values with probabilities π_i gets at most c of n
// draws) = n! [x^n] Π_i E(π_i x), with E(x) = Σ_{j <= c} x^j / j!. The
// equally likely values share one power of E, taken by repeated squaring;
// coefficients stay positive, and extended precision holds terms as small
// as 1/1000!.
#include "tools/sp800_90b/restart_cutoff.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace talvora::tools::sp800_90b {

namespace {

// Restarts the reference tool simulates; its quantile is the entry at this
// rank, so the target probability is a multiple of 1/R.
constexpr double SIMULATED_RESTARTS = 5'000'000;
constexpr std::uint64_t DRAWS = 1000;

using Series = std::vector<long double>; // coefficients of x^0 .. x^n

Series product(const Series& a, const Series& b) {
    Series out(a.size(), 0);
    for (std::size_t i = 0; i < a.size() && a[i] != 0; ++i)
        for (std::size_t j = 0; i + j < out.size() && b[j] != 0; ++j)
            out[i + j] += a[i] * b[j];
    return out;
}

// E(x)^count, truncated after x^n.
Series power_of_e(std::uint64_t count, std::uint64_t c, std::uint64_t n) {
    Series e(n + 1, 0), result(n + 1, 0);
    long double term = 1;
    for (std::uint64_t j = 0; j <= std::min(c, n); ++j) {
        e[j] = term;
        term /= static_cast<long double>(j + 1);
    }
    result[0] = 1;
    for (std::uint64_t rest = count; rest != 0; rest >>= 1) {
        if (rest & 1) result = product(result, e);
        if (rest > 1) e = product(e, e);
    }
    return result;
}

} // namespace

double restart_alpha() noexcept {
    return 1 - std::exp(std::log(0.99) / 2000);
}

double restart_all_at_most(double h_initial, std::uint64_t c, std::uint64_t n) {
    const long double p = std::exp2(-static_cast<long double>(h_initial));
    const auto equal = static_cast<std::uint64_t>(std::floor(1 / p));
    const long double rest = std::max(0.0L, 1 - static_cast<long double>(equal) * p);
    const Series group = power_of_e(equal, c, n);
    long double n_factorial = 1;
    for (std::uint64_t i = 2; i <= n; ++i)
        n_factorial *= static_cast<long double>(i);
    // The value with the remaining probability takes j of the draws:
    // the term (rest^j / j!) p^(n-j) [x^(n-j)] E(x)^equal.
    long double sum = 0, rest_term = 1;
    for (std::uint64_t j = 0; j <= std::min(c, n) && (j == 0 || rest > 0); ++j) {
        sum += rest_term * std::pow(p, static_cast<long double>(n - j)) * group[n - j];
        rest_term *= rest / static_cast<long double>(j + 1);
    }
    return static_cast<double>(n_factorial * sum);
}

std::uint64_t restart_cutoff(double h_initial) {
    const double target =
        std::floor((1 - restart_alpha()) * SIMULATED_RESTARTS) / SIMULATED_RESTARTS;
    // The probability grows with c; below the expected count of the most
    // likely value it is far from the target, and at c = DRAWS it is 1.
    std::uint64_t lo = static_cast<std::uint64_t>(std::exp2(-h_initial) * DRAWS), hi = DRAWS;
    while (lo < hi) {
        const std::uint64_t mid = lo + (hi - lo) / 2;
        if (restart_all_at_most(h_initial, mid, DRAWS) >= target)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

} // namespace talvora::tools::sp800_90b
