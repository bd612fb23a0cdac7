// src/tools/sp800_90b/tuple_estimates.cpp: t-tuple and LRS estimates from
// the tuple counts; the final formulas run in x87 extended precision, as
// the reference tool's do.
#include "tools/sp800_90b/tuple_estimates.h"

#include "tools/sp800_90b/largest_root.h"
#include "tools/sp800_90b/tuple_counts.h"
#include "tools/sp800_90b/upper_bound.h"

#include <algorithm>
#include <cmath>

namespace talvora::tools::sp800_90b {

namespace {

// The largest per-symbol probability each estimate sees.
class TupleMaxima : public TupleVisitor {
  public:
    void lengths(const TupleLengths& lengths) override { lengths_ = lengths; }
    // (Q[t] / (n - t + 1))^(1/t)
    void most(std::span<const std::uint32_t> counts) override {
        tuple_ = largest_root(counts, 1, [n = lengths_.n](std::uint64_t t) {
            return static_cast<long double>(n - t + 1);
        });
    }
    // (S_w / C(n - w + 1, 2))^(1/w)
    void pairs(std::span<const std::uint64_t> counts) override {
        lrs_ = largest_root(counts, lengths_.u, [n = lengths_.n](std::uint64_t w) {
            const std::uint64_t windows = n - w + 1;
            return static_cast<long double>(windows * (windows - 1) / 2);
        });
    }

    TupleLengths lengths_;
    long double tuple_ = 0, lrs_ = 0;
};

// The bound on p_hat and its min-entropy, both in extended precision.
void finish(Estimate& estimate, const char* p_hat_name, long double p_hat, std::uint64_t n) {
    const long double p_u = upper_bound_extended(p_hat, n);
    estimate.add(p_hat_name, static_cast<double>(p_hat));
    estimate.add("p_u", static_cast<double>(p_u));
    estimate.min_entropy = static_cast<double>(-std::log2(p_u));
}

} // namespace

TupleEstimates tuple_estimates(Symbols s, unsigned alphabet) {
    TupleMaxima maxima;
    count_tuples(s, alphabet, TUPLE_MIN_COUNT, maxima);
    const auto [n, u, v] = maxima.lengths_;

    TupleEstimates out{Estimate("t-Tuple"), Estimate("LRS")};
    if (u == 1) {
        out.t_tuple.note = "no tuple occurs " + std::to_string(TUPLE_MIN_COUNT) + " times";
    } else {
        out.t_tuple.add("t", static_cast<std::int64_t>(u - 1));
        finish(out.t_tuple, "p-hat_max", maxima.tuple_, n);
    }
    out.lrs.add("u", static_cast<std::int64_t>(u));
    out.lrs.add("v", static_cast<std::int64_t>(v));
    if (v < u) {
        out.lrs.note = "every repeated tuple length is below u";
        return out;
    }
    finish(out.lrs, "p-hat", maxima.lrs_, n);
    return out;
}

} // namespace talvora::tools::sp800_90b
