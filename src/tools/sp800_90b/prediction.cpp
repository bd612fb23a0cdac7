// src/tools/sp800_90b/prediction.cpp: global and local bounds of a
// predictor's success rate.
#include "tools/sp800_90b/prediction.h"

#include "tools/sp800_90b/bisection.h"
#include "tools/sp800_90b/upper_bound.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace talvora::tools::sp800_90b {

double log_no_run_probability(double p_double, std::uint64_t r, std::uint64_t n) {
    const long double p = p_double;
    const long double q = 1.0L - p;
    const long double rl = static_cast<long double>(r);
    const long double scale = q * std::pow(p, rl);
    // The fixed point of x = 1 + q p^r x^(r+1), iterated to the precision's
    // end rather than a fixed 10 times.
    long double x = 1.0L, previous = 0.0L;
    for (int step = 0; step < 66 && (x - previous) > LDBL_EPSILON * x; ++step) {
        previous = x;
        x = 1.0L + scale * std::pow(x, rl + 1.0L);
    }
    const long double log_probability = std::log(1.0L - p * x) -
                                        std::log((rl + 1.0L - rl * x) * q) -
                                        (static_cast<long double>(n) + 1.0L) * std::log(x);
    return static_cast<double>(log_probability);
}

Estimate too_short(std::string name, std::size_t min_length) {
    Estimate estimate(std::move(name));
    estimate.note = "needs at least " + std::to_string(min_length) + " symbols";
    return estimate;
}

Estimate prediction_estimate(std::string name, const PredictionCounts& counts, unsigned k) {
    const std::uint64_t n = counts.predictions;
    const std::uint64_t r = counts.longest_run + 1;
    Estimate estimate(std::move(name));
    estimate.add("C", static_cast<std::int64_t>(counts.correct));
    estimate.add("r", static_cast<std::int64_t>(r));
    estimate.add("N", static_cast<std::int64_t>(n));
    const double p_global = static_cast<double>(counts.correct) / static_cast<double>(n);
    const double p_global_upper = counts.correct == 0
                                      ? 1.0 - std::pow(0.01, 1.0 / static_cast<double>(n))
                                      : upper_bound(p_global, n);
    estimate.add("P_global", p_global);
    estimate.add("P_global'", p_global_upper);
    double p = std::max(1.0 / static_cast<double>(k), p_global_upper);
    const double target = std::log(0.99);
    if (p < 1.0 && log_no_run_probability(p, r, n) > target) {
        const double p_local = solve_decreasing(
            [&](double x) { return log_no_run_probability(x, r, n); }, target, p, 1.0, 1.0);
        estimate.add("P_local", p_local);
        p = std::max(p, p_local);
    } else {
        estimate.note = "the local bound cannot raise the global one";
    }
    estimate.min_entropy = -std::log2(p);
    return estimate;
}

} // namespace talvora::tools::sp800_90b
