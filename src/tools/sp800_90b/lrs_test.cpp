// src/tools/sp800_90b/lrs_test.cpp: the longest repeated substring test,
// in x87 extended precision like the reference tool's, whose printed values
// carry 22 digits.
#include "tools/sp800_90b/lrs_test.h"

#include "tools/sp800_90b/suffix_array.h"

#include <algorithm>
#include <cmath>

namespace talvora::tools::sp800_90b {

std::uint64_t longest_repeat(Symbols literal, unsigned alphabet) {
    std::vector<std::uint32_t> sa = suffix_array(literal, alphabet);
    suffix_array_to_lcp(literal, sa);
    return sa.empty() ? 0 : *std::max_element(sa.begin(), sa.end());
}

LrsTestResult lrs_test(std::uint64_t n, const std::vector<double>& proportions, std::uint64_t w) {
    long double p_col = 0;
    for (const double p : proportions)
        p_col += static_cast<long double>(p) * p;
    LrsTestResult result{.collision_probability = static_cast<double>(p_col), .longest_repeat = w};
    // Every pair collides: any repeat is certain.
    if (p_col > 1 - 0x1p-63L) return result;
    const std::uint64_t windows = n - w + 1;
    const long double pairs = static_cast<long double>(windows) * (windows - 1) / 2;
    const long double log_none = pairs * std::log1p(-std::pow(p_col, static_cast<long double>(w)));
    result.probability = static_cast<double>(1 - std::exp(log_none));
    result.passed = std::log(0.999L) >= log_none;
    return result;
}

} // namespace talvora::tools::sp800_90b
