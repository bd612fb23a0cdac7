// src/tools/sp800_90b/restart_cutoff.h: the bound of the restart sanity
// check: how often the commonest value may occur in one restart's 1000
// samples if the source has the claimed min-entropy.
#pragma once

#include <cstdint>

namespace talvora::tools::sp800_90b {

// The significance per row or column: 0.01 spread over 1000 rows and 1000
// columns, 1 - 0.99^(1/2000).
double restart_alpha() noexcept;

// P(no value occurs more than c times in n draws) from the distribution
// with the most probable value at p = 2^-h_initial: floor(1/p) values of
// probability p and one with the rest.
double restart_all_at_most(double h_initial, std::uint64_t c, std::uint64_t n);

// The cutoff for 1000 draws: the smallest count c with
// restart_all_at_most(h_initial, c, 1000) >= floor((1 - alpha) R) / R,
// R = 5,000,000. The reference tool estimates this quantile by drawing R
// restarts at random; this is the value its estimate tends to.
std::uint64_t restart_cutoff(double h_initial);

} // namespace talvora::tools::sp800_90b
