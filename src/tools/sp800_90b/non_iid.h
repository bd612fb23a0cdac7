// src/tools/sp800_90b/non_iid.h: the non-IID assessment of a noise source:
// every estimator on the samples as they are (renumbered by rank) and on
// their bitstring, and the min-entropy they assess together.
#pragma once

#include "tools/sp800_90b/estimate.h"
#include "tools/sp800_90b/parallel_tasks.h"
#include "tools/sp800_90b/samples.h"

#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace talvora::tools::sp800_90b {

struct NonIidResult {
    unsigned bits = 8;
    bool conditioned = false;
    std::uint64_t samples = 0;
    unsigned k = 0; // distinct sample values
    // Min-entropy per sample from the literal estimates (capped at bits);
    // absent for conditioned data.
    std::optional<double> h_original;
    // Min-entropy per bit from the bitstring estimates (capped at 1); absent
    // when the samples take just two values (they are assessed as bits).
    std::optional<double> h_bitstring;
    // min(bits, h_original, bits * h_bitstring) over those present.
    double assessed = 0;
    std::vector<Estimate> estimates; // in the reference tool's order
    std::vector<std::string> warnings;
};

// Assesses one sample per byte of data, each < 2^bits (else
// SampleRangeError). Conditioned data are assessed as a bitstring only.
// Throws std::invalid_argument for empty data or bits outside 1..8, and
// TasksStopped once stop is requested (the estimators running then finish).
NonIidResult non_iid(Symbols data, unsigned bits, bool conditioned,
                     const std::stop_token& stop = {});

// Fewer samples than this give a warning, as the estimators are meant for more.
inline constexpr std::size_t RECOMMENDED_SAMPLES = 1'000'000;

} // namespace talvora::tools::sp800_90b
