// src/tools/sp800_90b/compression.cpp: the compression estimate (Maurer's
// universal statistic): the mean log-distance between repeats of 6-bit
// blocks, and the block distribution (one likely value, the rest equally
// likely) whose expected statistic matches its lower bound.
#include "tools/sp800_90b/binary_estimates.h"

#include "tools/sp800_90b/bisection.h"
#include "tools/sp800_90b/kahan.h"
#include "tools/sp800_90b/upper_bound.h"

#include <array>
#include <cmath>
#include <vector>

namespace talvora::tools::sp800_90b {

namespace {

constexpr std::size_t BLOCK_VALUES = std::size_t{1} << COMPRESSION_BLOCK_BITS;
constexpr std::size_t D = COMPRESSION_INIT_BLOCKS;

// G(z) of the expected statistic, summed in O(blocks): with
// a_u = log2(u) (1 - z)^(u - 1), G(z) = z / v (z S1 + S2) where S1 weighs a_u
// by how many test blocks can see a distance u and S2 sums the terms of the
// last distance. Powers and terms in extended precision, sums in double
// (Kahan); the loop stops where the weighted terms vanish in double.
class GSums {
  public:
    explicit GSums(double z) : z_(z), ratio_(1.0L - static_cast<long double>(z)) {}

    // Distances 2 .. d; the running sum of all terms goes on from theirs.
    void add_head(long double log2_u) {
        power_ *= ratio_;
        head_.add(static_cast<double>(log2_u * power_));
    }
    void end_head() { all_ = head_; }
    // Distance u (d < u < blocks), seen by `weight` = blocks - u test blocks.
    void add(long double log2_u, std::size_t weight) {
        power_ *= ratio_;
        const long double a = log2_u * power_;
        all_.add(static_cast<double>(a));
        const double term = static_cast<double>(static_cast<long double>(weight) * a);
        if (term == 0.0)
            truncated_ = true;
        else
            weighted_.add(term);
    }
    bool truncated() const { return truncated_; }

    double finish(std::size_t blocks, long double log2_blocks) {
        if (!truncated_) {
            power_ *= ratio_;
            all_.add(static_cast<double>(log2_blocks * power_));
        }
        weighted_.add(static_cast<double>(blocks - D) * head_.sum());
        const double v = static_cast<double>(blocks - D);
        return ((1.0 / v) * z_) * (z_ * weighted_.sum() + (all_.sum() - head_.sum()));
    }

  private:
    double z_;
    long double ratio_;
    long double power_ = 1.0L; // (1 - z)^(u - 1)
    KahanSum head_, all_, weighted_;
    bool truncated_ = false;
};

class ExpectedStatistic {
  public:
    explicit ExpectedStatistic(std::size_t blocks) : blocks_(blocks) {}

    // The expected statistic when one block value has probability p and
    // the other 63 share the rest: G(p) + 63 G(q). The two sums run side
    // by side, as their chains of dependent operations overlap.
    double expected(double p) {
        const double q = (1.0 - p) / static_cast<double>(BLOCK_VALUES - 1);
        GSums of_p(p), of_q(q);
        for (std::size_t u = 2; u <= D; ++u) {
            of_p.add_head(log2(u));
            of_q.add_head(log2(u));
        }
        of_p.end_head();
        of_q.end_head();
        for (std::size_t u = D + 1; u < blocks_ && !(of_p.truncated() && of_q.truncated()); ++u) {
            const long double log2_u = log2(u);
            if (!of_p.truncated()) of_p.add(log2_u, blocks_ - u);
            if (!of_q.truncated()) of_q.add(log2_u, blocks_ - u);
        }
        const long double log2_blocks = std::log2(static_cast<long double>(blocks_));
        return of_p.finish(blocks_, log2_blocks) +
               static_cast<double>(BLOCK_VALUES - 1) * of_q.finish(blocks_, log2_blocks);
    }

  private:
    // log2 of every distance the sums reach before the terms vanish, grown
    // on demand.
    long double log2(std::size_t u) {
        while (log2_.size() <= u)
            log2_.push_back(std::log2(static_cast<long double>(log2_.size())));
        return log2_[u];
    }

    std::size_t blocks_;
    std::vector<long double> log2_;
};

} // namespace

Estimate compression_estimate(Symbols bits) {
    Estimate estimate("Compression");
    const std::size_t blocks = bits.size() / COMPRESSION_BLOCK_BITS;
    if (blocks <= D) {
        estimate.note = "needs more than " + std::to_string(D) + " blocks of " +
                        std::to_string(COMPRESSION_BLOCK_BITS) + " bits";
        return estimate;
    }
    const auto block = [&](std::size_t j) {
        unsigned value = 0;
        for (std::size_t b = 0; b < COMPRESSION_BLOCK_BITS; ++b)
            value = (value << 1) | bits[j * COMPRESSION_BLOCK_BITS + b];
        return value;
    };
    // 1-based position of each value's last occurrence; the first D blocks
    // only fill the table.
    std::array<std::size_t, BLOCK_VALUES> last{};
    for (std::size_t j = 0; j < D; ++j)
        last[block(j)] = j + 1;
    KahanSum sum, sum_squares;
    for (std::size_t j = D; j < blocks; ++j) {
        const unsigned value = block(j);
        const double log_distance = std::log2(static_cast<double>(j + 1 - last[value]));
        sum.add(log_distance);
        sum_squares.add(log_distance * log_distance);
        last[value] = j + 1;
    }
    const std::size_t v = blocks - D;
    const double vd = static_cast<double>(v);
    const double mean = sum.sum() / vd;
    const double sigma =
        0.5907 * std::sqrt(sum_squares.sum() / static_cast<double>(v - 1) - mean * mean);
    const double mean_lower = mean - Z * sigma / std::sqrt(vd);
    estimate.add("X-bar", mean);
    estimate.add("sigma-hat", sigma);
    estimate.add("X-bar'", mean_lower);

    ExpectedStatistic statistic(blocks);
    const double lowest = 1.0 / static_cast<double>(BLOCK_VALUES);
    double p = -1.0;
    if (statistic.expected(lowest) > mean_lower)
        p = solve_decreasing([&](double x) { return statistic.expected(x); }, mean_lower, lowest,
                             1.0, lowest);
    if (p > lowest) {
        estimate.min_entropy = -std::log2(p) / static_cast<double>(COMPRESSION_BLOCK_BITS);
    } else {
        p = lowest;
        estimate.note = "no block distribution reaches the statistic: p = 1/64 is used";
        estimate.min_entropy = 1.0;
    }
    estimate.add("p", p);
    return estimate;
}

} // namespace talvora::tools::sp800_90b
