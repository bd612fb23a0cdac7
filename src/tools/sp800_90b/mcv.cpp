// src/tools/sp800_90b/mcv.cpp: the most common value estimate.
#include "tools/sp800_90b/mcv.h"

#include "entropy/entropy.h"
#include "tools/sp800_90b/upper_bound.h"

#include <algorithm>
#include <cmath>

namespace talvora::tools::sp800_90b {

Estimate most_common_value(Symbols symbols) {
    const ByteHistogram histogram = count_bytes(symbols);
    const std::uint64_t mode = *std::max_element(histogram.counts.begin(), histogram.counts.end());
    const std::uint64_t n = symbols.size();
    const double p_hat = static_cast<double>(mode) / static_cast<double>(n);
    const double p_u = upper_bound(p_hat, n);
    Estimate estimate("MCV");
    estimate.add("Mode count", static_cast<std::int64_t>(mode));
    estimate.add("p-hat", p_hat);
    estimate.add("p_u", p_u);
    estimate.min_entropy = -std::log2(p_u);
    return estimate;
}

} // namespace talvora::tools::sp800_90b
