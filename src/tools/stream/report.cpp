// src/tools/stream/report.cpp: every statistic of a report from the exact
// integer sums of a part.
#include "tools/stream/report.h"

#include "tools/stream/exact_ratio.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace talvora::tools {
namespace {

using u128 = unsigned __int128;

constexpr double NOT_DEFINED = std::numeric_limits<double>::quiet_NaN();
// The 99.5 % quantile of the standard normal distribution; 2.576 would move
// the bound's fifth digit.
constexpr double MCV_Z = 2.5758293035489008;

struct Moments {
    u128 sum_x = 0;  // < 2^72
    u128 sum_xx = 0; // < 2^80
    std::uint64_t most = 0;
};

Moments moments_of(const ByteHistogram& histogram, Report& report) {
    Moments m;
    for (unsigned v = 0; v < 256; ++v) {
        const std::uint64_t count = histogram.counts[v];
        if (count == 0) continue;
        report.distinct++;
        if (count > m.most) {
            m.most = count;
            report.mode = static_cast<std::uint8_t>(v);
        }
        m.sum_x += u128{count} * v;
        m.sum_xx += u128{count} * (v * v);
    }
    return m;
}

void add_entropies(const StreamPart& part, Report& report) {
    // An empty input is +0.0 by talvora's measures, before any counting.
    report.shannon = part.n == 0 ? 0.0 : histogram_entropy(part.counts, part.n);
    report.metric = histogram_metric_entropy(part.counts, part.n);
    report.normalized = histogram_normalized_metric_entropy(part.counts, part.n);
    report.min_entropy = histogram_min_entropy(part.counts, part.n);
}

void add_mcv_bound(std::uint64_t most, std::uint64_t n, Report& report) {
    if (n < 2) {
        report.mcv_p_upper = report.mcv_min_entropy = NOT_DEFINED;
        return;
    }
    const double p = static_cast<double>(most) / static_cast<double>(n);
    const double bound = p + MCV_Z * std::sqrt(p * (1.0 - p) / static_cast<double>(n - 1));
    report.mcv_p_upper = std::fmin(1.0, bound);
    report.mcv_min_entropy = -std::log2(report.mcv_p_upper);
}

void add_monte_carlo(const StreamPart& part, Report& report) {
    const std::uint64_t groups = part.n / GROUP_LEN;
    if (groups == 0) {
        report.monte_carlo_pi = report.monte_carlo_pi_error = NOT_DEFINED;
        return;
    }
    // inside <= n / 6, so 4 * inside fits.
    const double estimate = static_cast<double>(4 * part.inside[0]) / static_cast<double>(groups);
    report.monte_carlo_pi = estimate;
    report.monte_carlo_pi_error = 100 * std::fabs(estimate - std::numbers::pi) / std::numbers::pi;
}

void add_serial_correlation(const StreamPart& part, const Moments& m, Report& report) {
    // The pair that closes the circle: the last byte with the first.
    const std::size_t edge = std::min<std::uint64_t>(part.n, EDGE_LEN);
    const u128 sum_xy =
        part.n == 0 ? 0 : part.sum_xy + unsigned{part.tail[edge - 1]} * part.head[0];
    const UInt256 sum_x_squared = UInt256::product(m.sum_x, m.sum_x);
    // The denominator is n^2 times the variance: zero for a constant input.
    report.serial_correlation =
        difference_ratio(UInt256::product(part.n, sum_xy), sum_x_squared,
                         UInt256::product(part.n, m.sum_xx).minus(sum_x_squared));
}

} // namespace

Report make_report(const StreamPart& part) {
    Report report;
    report.n = part.n;
    const Moments m = moments_of(part.counts, report);
    add_entropies(part, report);
    add_mcv_bound(m.most, part.n, report);
    report.chi_square = chi_square_statistic(sum_of_squares(part.counts), part.n);
    report.p_value = chi_square_p_value(report.chi_square);
    report.mean =
        part.n == 0 ? NOT_DEFINED : UInt256(m.sum_x).to_double() / static_cast<double>(part.n);
    add_monte_carlo(part, report);
    add_serial_correlation(part, m, report);
    return report;
}

} // namespace talvora::tools
