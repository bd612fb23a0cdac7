// src/tools/sp800_90b/predictors.h: the four prediction estimates. Each
// scores a family of simple predictors on the sequence and keeps the count
// of correct predictions of whichever predictor has done best so far.
#pragma once

#include "tools/sp800_90b/estimate.h"
#include "tools/sp800_90b/prediction.h"
#include "tools/sp800_90b/samples.h"

namespace talvora::tools::sp800_90b {

// s holds symbols < k, k >= 2. No value below each estimator's minimum
// length.
Estimate multi_mcw_estimate(Symbols s, unsigned k);
Estimate lag_estimate(Symbols s, unsigned k);
Estimate multi_mmc_estimate(Symbols s, unsigned k);
Estimate lz78y_estimate(Symbols s, unsigned k);

inline constexpr std::size_t MULTI_MCW_MIN_LEN = 4096;
inline constexpr std::size_t MULTI_MMC_MIN_LEN = 3;
inline constexpr std::size_t LZ78Y_MIN_LEN = 18;

// The counts behind the estimates, for lengths at or above the minimum.
// The _any forms take any alphabet; the _binary forms are the flat-table
// kernels for k = 2, which the estimates use on bits.
PredictionCounts multi_mcw_counts_any(Symbols s, unsigned k);
PredictionCounts multi_mcw_counts_binary(Symbols s);
PredictionCounts lag_counts(Symbols s);
PredictionCounts multi_mmc_counts_any(Symbols s, unsigned k);
PredictionCounts multi_mmc_counts_binary(Symbols s);
PredictionCounts lz78y_counts_any(Symbols s, unsigned k);
PredictionCounts lz78y_counts_binary(Symbols s);

} // namespace talvora::tools::sp800_90b
