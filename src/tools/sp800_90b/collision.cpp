// src/tools/sp800_90b/collision.cpp: the collision estimate: the mean time
// to the first repeated bit, from which the closed form of the expected
// collision time gives the most likely bit's probability.
#include "tools/sp800_90b/binary_estimates.h"
#include "tools/sp800_90b/upper_bound.h"

#include <cmath>

namespace talvora::tools::sp800_90b {

Estimate collision_estimate(Symbols bits) {
    const std::size_t n = bits.size();
    // Collisions, left to right without overlap: two equal bits take two
    // positions, otherwise the third bit repeats one of the first two.
    std::uint64_t v = 0, sum_squares = 0;
    std::size_t i = 0;
    while (i + 1 < n) {
        std::size_t t;
        if (bits[i] == bits[i + 1])
            t = 2;
        else if (i + 2 < n)
            t = 3;
        else
            break;
        ++v;
        sum_squares += t * t;
        i += t;
    }
    Estimate estimate("Collision");
    estimate.add("v", static_cast<std::int64_t>(v));
    estimate.add("Sum t_i", static_cast<std::int64_t>(i));
    // The spread of collision times needs two of them (a handful of bits,
    // on which the reference tool does not run at all).
    if (v < 2) {
        estimate.note = "needs at least two collisions";
        return estimate;
    }
    const double sum = static_cast<double>(i);
    const double mean = sum / static_cast<double>(v);
    const double sigma =
        std::sqrt((static_cast<double>(sum_squares) - sum * mean) / static_cast<double>(v - 1));
    double mean_lower = mean - Z * sigma / std::sqrt(static_cast<double>(v));
    if (mean_lower < 2.0) mean_lower = 2.0;

    estimate.add("X-bar", mean);
    estimate.add("sigma-hat", sigma);
    estimate.add("X-bar'", mean_lower);
    // The expected collision time of bits with P(1) = p is 2 + 2p(1 - p):
    // below 2.5 it has a root p >= 1/2.
    double p = 0.5;
    if (mean_lower < 2.5) {
        p = 0.5 + std::sqrt(1.25 - 0.5 * mean_lower);
        estimate.min_entropy = -std::log2(p);
    } else {
        estimate.note = "no p above 1/2 gives this collision time: p = 1/2 is used";
        estimate.min_entropy = 1.0;
    }
    estimate.add("p", p);
    return estimate;
}

} // namespace talvora::tools::sp800_90b
