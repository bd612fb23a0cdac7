// src/tools/stream/report.h: the randomness report of a run of bytes, worked
// out from its StreamPart.
#pragma once

#include "tools/stream/stream_part.h"

#include <cstdint>
#include <optional>

namespace talvora::tools {

// Every statistic comes from exact integer sums with one floating-point
// division at the end; one that is undefined for the input is NaN.
struct Report {
    std::uint64_t n = 0;
    // Byte values seen.
    unsigned distinct = 0;
    // The most frequent byte value, the lowest on ties; none when empty.
    std::optional<std::uint8_t> mode;
    // Bit for bit what talvora's four measures give for the same bytes.
    double shannon = 0.0;
    double metric = 0.0;
    double normalized = 0.0;
    double min_entropy = 0.0;
    // The conservative most-common-value bound: the upper 99.5 % confidence
    // limit of the top byte's probability, and -log2 of it.
    double mcv_p_upper = 0.0;
    double mcv_min_entropy = 0.0;
    // Pearson's statistic against the uniform distribution, and the chance
    // that a chi-square variable with 255 degrees of freedom exceeds it.
    double chi_square = 0.0;
    double p_value = 0.0;
    double mean = 0.0;
    // 4 * inside / groups over the successive 6-byte groups, and its
    // distance from pi in percent.
    double monte_carlo_pi = 0.0;
    double monte_carlo_pi_error = 0.0;
    // Of successive bytes, the last paired with the first.
    double serial_correlation = 0.0;
};

Report make_report(const StreamPart& part);

// The sum of count^2 over the 256 counts; at most n^2, so it fits.
unsigned __int128 sum_of_squares(const ByteHistogram& histogram);
// (256 * sum_squares - n^2) / n from the exact numerator; NaN when n is 0.
double chi_square_statistic(unsigned __int128 sum_squares, std::uint64_t n);
// The upper tail of the chi-square distribution with 255 degrees of freedom
// at chi_square: the regularised upper incomplete gamma Q(255 / 2, chi / 2).
double chi_square_p_value(double chi_square);

} // namespace talvora::tools
