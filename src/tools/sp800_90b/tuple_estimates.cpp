// src/tools/sp800_90b/tuple_estimates.cpp: t-tuple and LRS estimates from
// the tuple counts; the final formulas run in x87 extended precision, as
// the reference tool's do.
#include "tools/sp800_90b/tuple_estimates.h"

#include "tools/sp800_90b/tuple_counts.h"
#include "tools/sp800_90b/upper_bound.h"

#include <algorithm>
#include <cmath>

namespace talvora::tools::sp800_90b {

namespace {

// The bound on p_hat and its min-entropy, both in extended precision.
void finish(Estimate& estimate, const char* p_hat_name, long double p_hat, std::uint64_t n) {
    const long double p_u = upper_bound_extended(p_hat, n);
    estimate.add(p_hat_name, static_cast<double>(p_hat));
    estimate.add("p_u", static_cast<double>(p_u));
    estimate.min_entropy = static_cast<double>(-std::log2(p_u));
}

} // namespace

TupleEstimates tuple_estimates(Symbols s, unsigned alphabet) {
    const TupleCounts counts = tuple_counts(s, alphabet, TUPLE_MIN_COUNT);
    const std::uint64_t n = counts.n, u = counts.u, v = counts.v;

    TupleEstimates out{Estimate("t-Tuple"), Estimate("LRS")};
    if (u == 1) {
        out.t_tuple.note = "no tuple occurs " + std::to_string(TUPLE_MIN_COUNT) + " times";
    } else {
        long double p_max = 0;
        for (std::uint64_t t = 1; t < u; ++t) {
            const long double p =
                static_cast<long double>(counts.most[t]) / static_cast<long double>(n - t + 1);
            p_max = std::max(p_max, std::pow(p, 1.0L / static_cast<long double>(t)));
        }
        out.t_tuple.add("t", static_cast<std::int64_t>(u - 1));
        finish(out.t_tuple, "p-hat_max", p_max, n);
    }

    out.lrs.add("u", static_cast<std::int64_t>(u));
    out.lrs.add("v", static_cast<std::int64_t>(v));
    if (v < u) {
        out.lrs.note = "every repeated tuple length is below u";
        return out;
    }
    long double p_max = 0;
    for (std::uint64_t w = u; w <= v; ++w) {
        const std::uint64_t windows = n - w + 1;
        const long double all_pairs = static_cast<long double>(windows * (windows - 1) / 2);
        const long double p = static_cast<long double>(counts.pairs[w - u]) / all_pairs;
        p_max = std::max(p_max, std::pow(p, 1.0L / static_cast<long double>(w)));
    }
    finish(out.lrs, "p-hat", p_max, n);
    return out;
}

} // namespace talvora::tools::sp800_90b
