// src/tools/sp800_90b/iid.h: the IID track of an assessment: the
// min-entropy of samples taken to be independent and identically
// distributed (the most common value bound), and the tests of that
// assumption: two chi-square tests, the longest repeated substring test and
// the permutation test.
#pragma once

#include "pool/pool.h"
#include "tools/sp800_90b/chi_square.h"
#include "tools/sp800_90b/estimate.h"
#include "tools/sp800_90b/lrs_test.h"
#include "tools/sp800_90b/permutation_test.h"
#include "tools/sp800_90b/samples.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talvora::tools::sp800_90b {

struct IidResult {
    unsigned bits = 8;
    std::uint64_t samples = 0;
    unsigned k = 0;      // distinct sample values
    double mean = 0;     // of the samples
    double median = 0;   // of the samples renumbered by rank; 0.5 when binary
    bool binary = false; // k == 2: the samples are tested as bits
    // The most common value estimate on the samples (renumbered by rank) and,
    // unless binary, on their bitstring.
    std::vector<Estimate> estimates;
    std::optional<double> h_original;  // per sample, capped at bits
    std::optional<double> h_bitstring; // per bit, capped at 1
    double assessed = 0;               // min(bits, h_original, bits * h_bitstring)

    // The tests; all absent when every sample has the same value.
    std::optional<ChiSquareResult> independence;
    std::optional<ChiSquareResult> goodness_of_fit;
    std::optional<LrsTestResult> lrs;
    std::optional<PermutationTestResult> permutation;
    bool chi_square_passed = false; // both chi-square tests
    bool is_iid = false;            // every test passed
    std::vector<std::string> warnings;
};

struct IidOptions {
    std::size_t permutations = 10'000;
    std::optional<std::uint64_t> seed; // drawn from the system when absent
    PermutationProgress progress;
};

// Assesses one sample per byte of data, each < 2^bits (else
// SampleRangeError), on pool. Throws std::invalid_argument for empty data
// or bits outside 1..8, PermutationTestStopped when progress says stop.
IidResult iid(Symbols data, unsigned bits, const IidOptions& options, WorkerPool& pool);
IidResult iid(Symbols data, unsigned bits, const IidOptions& options);

} // namespace talvora::tools::sp800_90b
