// src/entropy/shannon.cpp: Shannon, metric and min-entropy of a histogram.
//
// Each operation below is rounded on its own, in the order written; the
// build forbids contraction, so the bits are the same on every machine with
// the same libm.
#include "entropy/entropy.h"

#include <algorithm>
#include <cmath>

namespace talvora {

double histogram_entropy(const ByteHistogram& histogram, std::uint64_t n) {
    const double length = static_cast<double>(n);
    // Starting from -0.0 makes a single-valued input come out as -0.0:
    // -0.0 - (+0.0) keeps the sign.
    double acc = -0.0;
    for (const std::uint64_t count : histogram.counts) {
        if (count == 0) continue;
        const double p = static_cast<double>(count) / length;
        const double term = std::log2(p) * p;
        acc = acc - term;
    }
    return acc;
}

double shannon_entropy(ByteView bytes) {
    return histogram_entropy(count_bytes(bytes), bytes.size());
}

double histogram_metric_entropy(const ByteHistogram& histogram, std::uint64_t n) {
    if (n == 0) return 0.0;
    return histogram_entropy(histogram, n) * 0.125;
}

double metric_entropy(ByteView bytes) {
    if (bytes.empty()) return 0.0;
    return shannon_entropy(bytes) * 0.125;
}

double histogram_min_entropy(const ByteHistogram& histogram, std::uint64_t n) {
    if (n == 0) return 0.0;
    const std::uint64_t most = *std::max_element(histogram.counts.begin(), histogram.counts.end());
    // The quotient first: log2(n) - log2(m) would differ in the last bit.
    const double p = static_cast<double>(most) / static_cast<double>(n);
    return -std::log2(p);
}

double min_entropy(ByteView bytes) {
    if (bytes.empty()) return 0.0;
    return histogram_min_entropy(count_bytes(bytes), bytes.size());
}

} // namespace talvora
