// src/tools/sp800_90b/chi_square.cpp: the chi-square statistics, binned the
// way the reference tool bins them so that statistics and degrees of
// freedom agree with its own.
#include "tools/sp800_90b/chi_square.h"

#include "entropy/entropy.h"
#include "tools/sp800_90b/incomplete_gamma.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numeric>

namespace talvora::tools::sp800_90b {

namespace {

constexpr double PASSING_P_VALUE = 0.001;
// Bins are filled until their expected count reaches this.
constexpr double MIN_EXPECTED = 5;

ChiSquareResult verdict(double statistic, std::int64_t df) {
    const double p = chi_square_p_value(statistic, static_cast<double>(df));
    return {statistic, df, p, p >= PASSING_P_VALUE};
}

// With fewer than 10 samples the goodness-of-fit blocks are empty and every
// expectation 0: such a term counts as 0 (the reference tool gets NaN).
double term(double observed, double expected) {
    if (expected == 0 && observed == 0) return 0;
    return (observed - expected) * (observed - expected) / expected;
}

// Cells sorted by expectation (ties by index) go into bins in that order;
// a bin closes once its expectation reaches 5, and a last bin short of 5
// joins the one before.
struct Bins {
    std::vector<std::uint32_t> of_cell;
    std::vector<double> expected;

    explicit Bins(const std::vector<double>& cell_expected) : of_cell(cell_expected.size()) {
        std::vector<std::uint32_t> order(cell_expected.size());
        std::iota(order.begin(), order.end(), 0u);
        std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
            return cell_expected[a] < cell_expected[b] ||
                   (cell_expected[a] == cell_expected[b] && a < b);
        });
        double total = 0;
        for (const std::uint32_t cell : order) {
            if (total >= MIN_EXPECTED) {
                expected.push_back(total);
                total = 0;
            }
            of_cell[cell] = static_cast<std::uint32_t>(expected.size());
            total += cell_expected[cell];
        }
        if (!expected.empty() && total < MIN_EXPECTED) {
            const auto last = static_cast<std::uint32_t>(expected.size());
            for (std::uint32_t& bin : of_cell)
                if (bin == last) bin = last - 1;
            expected.back() += total;
        } else {
            expected.push_back(total);
        }
    }

    double statistic(const std::vector<std::uint64_t>& observed) const {
        double sum = 0;
        for (std::size_t b = 0; b < expected.size(); ++b)
            sum += term(static_cast<double>(observed[b]), expected[b]);
        return sum;
    }
};

std::uint64_t count_ones(Symbols bits) {
    return count_bytes(bits).counts[1];
}

ChiSquareResult binary_independence(Symbols bits) {
    const std::uint64_t n = bits.size();
    const double p1 = static_cast<double>(count_ones(bits)) / static_cast<double>(n);
    const double p0 = 1 - p1;
    const double rarer = std::min(p0, p1);
    // The longest blocks, up to 11 bits, whose rarest value is still
    // expected 5 times.
    unsigned m = 11;
    while (m > 1 && std::pow(rarer, m) * static_cast<double>(n / m) < MIN_EXPECTED)
        --m;
    if (m < 2) return verdict(0, 0);
    const std::uint64_t blocks = n / m;
    std::vector<std::uint64_t> observed(std::size_t{1} << m);
    for (std::uint64_t b = 0; b < blocks; ++b) {
        unsigned value = 0;
        for (unsigned j = 0; j < m; ++j)
            value = value << 1 | bits[b * m + j];
        ++observed[value];
    }
    double statistic = 0;
    for (unsigned w = 0; w < observed.size(); ++w) {
        const int ones = std::popcount(w);
        const double expected = std::pow(p1, ones) * std::pow(p0, static_cast<int>(m) - ones) *
                                static_cast<double>(blocks);
        statistic += term(static_cast<double>(observed[w]), expected);
    }
    return verdict(statistic, static_cast<std::int64_t>(observed.size()) - 2);
}

ChiSquareResult binary_goodness_of_fit(Symbols bits) {
    const std::uint64_t n = bits.size();
    const double p = static_cast<double>(count_ones(bits)) / static_cast<double>(n);
    const std::uint64_t block = n / 10;
    const double expected0 = (1 - p) * static_cast<double>(block);
    const double expected1 = p * static_cast<double>(block);
    double statistic = 0;
    for (std::uint64_t j = 0; j < 10; ++j) {
        const std::uint64_t ones = count_ones(bits.subspan(j * block, block));
        statistic += term(static_cast<double>(block - ones), expected0) +
                     term(static_cast<double>(ones), expected1);
    }
    return verdict(statistic, 9);
}

} // namespace

std::vector<double> symbol_proportions(Symbols literal, unsigned alphabet) {
    const ByteHistogram histogram = count_bytes(literal);
    const double step = 1.0 / static_cast<double>(literal.size());
    std::vector<double> proportions(alphabet);
    for (unsigned s = 0; s < alphabet; ++s)
        for (std::uint64_t i = 0; i < histogram.counts[s]; ++i)
            proportions[s] += step;
    return proportions;
}

ChiSquareResult chi_square_independence(Symbols literal, unsigned alphabet,
                                        const std::vector<double>& proportions) {
    if (alphabet == 2) return binary_independence(literal);
    const std::uint64_t pairs = literal.size() / 2;
    std::vector<double> cell_expected(std::size_t{alphabet} * alphabet);
    for (unsigned a = 0; a < alphabet; ++a)
        for (unsigned b = 0; b < alphabet; ++b)
            cell_expected[a * alphabet + b] =
                (proportions[a] * proportions[b]) * static_cast<double>(pairs);
    const Bins bins(cell_expected);
    std::vector<std::uint64_t> observed(bins.expected.size());
    for (std::uint64_t i = 0; i < pairs; ++i)
        ++observed[bins.of_cell[literal[2 * i] * alphabet + literal[2 * i + 1]]];
    return verdict(bins.statistic(observed),
                   static_cast<std::int64_t>(bins.expected.size()) - alphabet);
}

ChiSquareResult chi_square_goodness_of_fit(Symbols literal, unsigned alphabet,
                                           const std::vector<double>& proportions) {
    if (alphabet == 2) return binary_goodness_of_fit(literal);
    const std::uint64_t block = literal.size() / 10;
    std::vector<double> symbol_expected(alphabet);
    for (unsigned s = 0; s < alphabet; ++s)
        symbol_expected[s] = proportions[s] * static_cast<double>(block);
    const Bins bins(symbol_expected);
    double statistic = 0;
    for (std::uint64_t j = 0; j < 10; ++j) {
        const ByteHistogram counts = count_bytes(literal.subspan(j * block, block));
        std::vector<std::uint64_t> observed(bins.expected.size());
        for (unsigned s = 0; s < alphabet; ++s)
            observed[bins.of_cell[s]] += counts.counts[s];
        statistic += bins.statistic(observed);
    }
    return verdict(statistic, 9 * (static_cast<std::int64_t>(bins.expected.size()) - 1));
}

} // namespace talvora::tools::sp800_90b
