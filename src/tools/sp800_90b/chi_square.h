// src/tools/sp800_90b/chi_square.h: the two chi-square tests of the IID
// track: independence of neighbouring samples and goodness of fit of ten
// parts of the data to the whole.
#pragma once

#include "tools/sp800_90b/samples.h"

#include <cstdint>
#include <vector>

namespace talvora::tools::sp800_90b {

struct ChiSquareResult {
    double statistic = 0;
    std::int64_t degrees_of_freedom = 0;
    double p_value = 1;
    bool passed = true; // p_value >= 0.001
};

// Each symbol's share of the data as the reference tool forms it: 1/n added
// once per occurrence. The last bits differ from count/n, and the tests
// sort cells by these values, so the difference can move cells between
// bins.
std::vector<double> symbol_proportions(Symbols literal, unsigned alphabet);

// Both take literal symbols < alphabet (alphabet >= 2) and their proportions.
ChiSquareResult chi_square_independence(Symbols literal, unsigned alphabet,
                                        const std::vector<double>& proportions);
ChiSquareResult chi_square_goodness_of_fit(Symbols literal, unsigned alphabet,
                                           const std::vector<double>& proportions);

} // namespace talvora::tools::sp800_90b
