// src/tools/sp800_90b/bisection.h: the root search of the compression
// estimate and of the predictors' local bound, step for step the reference
// tool's, so that results agree to the last digits it prints.
#pragma once

#include <cmath>

namespace talvora::tools::sp800_90b {

// The reference tool's closeness test: equal, within a relative DBL_EPSILON
// of the larger magnitude, or at most 4 units in the last place apart, with
// an absolute floor of DBL_MIN.
bool close_enough(double a, double b) noexcept;

// A p in [lo_domain, hi_domain] with f(p) close to target, for f decreasing
// there; fail_value when the target is out of f's range or the search
// leaves the domain, the last upper end when f turns out not monotone.
template <class F>
double solve_decreasing(F&& f, double target, double lo_domain, double hi_domain,
                        double fail_value) {
    double lo = lo_domain, hi = hi_domain;
    double f_lo = INFINITY, f_hi = -INFINITY; // unknown until evaluated
    double p = (lo + hi) / 2.0;
    double y = f(p);
    // 1076 halvings walk from any double to any other.
    for (int step = 0; step < 1076; ++step) {
        if (close_enough(y, target)) return p;
        if (y > target) {
            lo = p;
            f_lo = y;
        } else {
            hi = p;
            f_hi = y;
        }
        if (lo >= hi) return std::fmin(std::fmax(lo, hi), hi_domain);
        if (lo < lo_domain || lo > hi_domain || hi < lo_domain || hi > hi_domain) return fail_value;
        if (!(f_hi <= target && target <= f_lo)) return fail_value;
        const double previous = p;
        p = (lo + hi) / 2.0;
        if (!(lo < p && p < hi)) return hi;
        if (p == previous) return hi;
        y = f(p);
        if (!(f_hi <= y && y <= f_lo)) return hi;
    }
    return p;
}

} // namespace talvora::tools::sp800_90b
