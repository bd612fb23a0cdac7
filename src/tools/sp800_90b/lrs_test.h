// src/tools/sp800_90b/lrs_test.h: the IID track's longest repeated
// substring test: whether the longest repeat is no longer than IID data of
// these proportions would plausibly show.
#pragma once

#include "tools/sp800_90b/samples.h"

#include <cstdint>
#include <vector>

namespace talvora::tools::sp800_90b {

struct LrsTestResult {
    double collision_probability = 0; // P_col: two samples equal
    std::uint64_t longest_repeat = 0; // W: the longest substring occurring twice
    double probability = 1;           // Pr(X >= 1): some repeat of length W expected
    bool passed = true;               // probability >= 0.001
};

// The length of the longest substring that occurs at least twice (overlaps
// allowed) in literal symbols < alphabet.
std::uint64_t longest_repeat(Symbols literal, unsigned alphabet);

// The test for n samples of these proportions (symbol_proportions) whose
// longest repeat has length w.
LrsTestResult lrs_test(std::uint64_t n, const std::vector<double>& proportions, std::uint64_t w);

} // namespace talvora::tools::sp800_90b
