// src/entropy/shannon.cpp: Shannon, metric and min-entropy of a histogram.
//
// Each operation below is rounded on its own, in the order written; the
// build forbids contraction, so the bits are the same on every machine with
// the same libm.
#include "entropy/entropy.h"

#include <algorithm>
#include <cmath>

namespace talvora {

namespace {

// log2(p) * p for p = count / length, rounded step by step as written.
double entropy_term(std::uint64_t count, double length) {
    const double p = static_cast<double>(count) / length;
    return std::log2(p) * p;
}

} // namespace

double histogram_entropy(const ByteHistogram& histogram, std::uint64_t n) {
    const double length = static_cast<double>(n);
    // Starting from -0.0 makes a single-valued input come out as -0.0:
    // -0.0 - (+0.0) keeps the sign.
    double acc = -0.0;
    // A short input has many bins with the same small count, and equal
    // counts give bit-identical terms: each small count's term is worked out
    // once. The log2 calls, not the counting, are the cost of a short input.
    constexpr std::uint64_t KNOWN_TERMS = 64;
    double known_terms[KNOWN_TERMS];
    std::uint64_t known = 0; // bit c: known_terms[c] holds the term of count c
    // Short inputs also leave most bins empty: a group of eight empty bins is
    // passed over with one test. The terms still come in ascending order.
    constexpr std::size_t GROUP = 8;
    for (std::size_t first = 0; first < histogram.counts.size(); first += GROUP) {
        std::uint64_t any = 0;
        for (std::size_t b = first; b < first + GROUP; ++b)
            any |= histogram.counts[b];
        if (any == 0) continue;
        for (std::size_t b = first; b < first + GROUP; ++b) {
            const std::uint64_t count = histogram.counts[b];
            if (count == 0) continue;
            double term;
            if (count < KNOWN_TERMS) {
                const std::uint64_t bit = std::uint64_t{1} << count;
                if ((known & bit) == 0) {
                    known_terms[count] = entropy_term(count, length);
                    known |= bit;
                }
                term = known_terms[count];
            } else {
                term = entropy_term(count, length);
            }
            acc = acc - term;
        }
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
    return histogram_metric_entropy(count_bytes(bytes), bytes.size());
}

double histogram_min_entropy(const ByteHistogram& histogram, std::uint64_t n) {
    if (n == 0) return 0.0;
    // Four running maxima, so that the comparisons do not wait on each other.
    std::uint64_t most_0 = 0, most_1 = 0, most_2 = 0, most_3 = 0;
    const auto& counts = histogram.counts;
    for (std::size_t b = 0; b < counts.size(); b += 4) {
        most_0 = std::max(most_0, counts[b]);
        most_1 = std::max(most_1, counts[b + 1]);
        most_2 = std::max(most_2, counts[b + 2]);
        most_3 = std::max(most_3, counts[b + 3]);
    }
    const std::uint64_t most = std::max(std::max(most_0, most_1), std::max(most_2, most_3));
    // The quotient first: log2(n) - log2(m) would differ in the last bit.
    const double p = static_cast<double>(most) / static_cast<double>(n);
    return -std::log2(p);
}

double min_entropy(ByteView bytes) {
    return histogram_min_entropy(count_bytes(bytes), bytes.size());
}

} // namespace talvora
