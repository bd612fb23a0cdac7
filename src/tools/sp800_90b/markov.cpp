// src/tools/sp800_90b/markov.cpp: the Markov estimate: the most likely
// 128-bit path of a first-order Markov model fitted to the bits.
#include "tools/sp800_90b/binary_estimates.h"

#include <algorithm>
#include <cmath>

namespace talvora::tools::sp800_90b {

Estimate markov_estimate(Symbols bits) {
    const std::size_t n = bits.size();
    // Transitions out of the first n - 1 bits.
    std::uint64_t c0 = 0, c00 = 0, c10 = 0;
    for (std::size_t i = 0; i + 1 < n; ++i) {
        const bool zero = bits[i] == 0, next_zero = bits[i + 1] == 0;
        c0 += zero;
        c00 += zero & next_zero;
        c10 += !zero & next_zero;
    }
    const std::uint64_t c1 = (n - 1) - c0;
    const double p00 = c0 == 0 ? 0.0 : static_cast<double>(c00) / static_cast<double>(c0);
    const double p01 = c0 == 0 ? 0.0 : 1.0 - p00;
    const double p10 = c1 == 0 ? 0.0 : static_cast<double>(c10) / static_cast<double>(c1);
    const double p11 = c1 == 0 ? 0.0 : 1.0 - p10;
    const double p0 = static_cast<double>(c0 + (bits[n - 1] == 0)) / static_cast<double>(n);
    const double p1 = 1.0 - p0;

    // -log2 of the six candidate paths' probabilities, each only where its
    // transitions occur.
    double h = 128.0;
    const auto consider = [&h](double candidate) { h = std::min(h, candidate); };
    if (p00 > 0) consider(-std::log2(p0) - 127.0 * std::log2(p00));
    if (p01 > 0 && p10 > 0)
        consider(-std::log2(p0) - 64.0 * std::log2(p01) - 63.0 * std::log2(p10));
    if (p01 > 0 && p11 > 0) consider(-std::log2(p0) - std::log2(p01) - 126.0 * std::log2(p11));
    if (p10 > 0 && p00 > 0) consider(-std::log2(p1) - std::log2(p10) - 126.0 * std::log2(p00));
    if (p10 > 0 && p01 > 0)
        consider(-std::log2(p1) - 64.0 * std::log2(p10) - 63.0 * std::log2(p01));
    if (p11 > 0) consider(-std::log2(p1) - 127.0 * std::log2(p11));

    Estimate estimate("Markov");
    estimate.add("P_0", p0);
    estimate.add("P_1", p1);
    estimate.add("P_{0,0}", p00);
    estimate.add("P_{0,1}", p01);
    estimate.add("P_{1,0}", p10);
    estimate.add("P_{1,1}", p11);
    estimate.add("p-hat_max", std::exp2(-h));
    estimate.min_entropy = std::min(h / 128.0, 1.0);
    return estimate;
}

} // namespace talvora::tools::sp800_90b
