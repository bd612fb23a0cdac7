// src/tools/sp800_90b/iid.h: the IID track of an assessment: the
// min-entropy of samples taken to be independent and identically
// distributed (the most common value bound), and the tests of that
// assumption: two chi-square tests, the longest repeated substring test and
// the permutation test.
#pragma once

#include "entropy/entropy.h"
#include "pool/pool.h"
#include "tools/sp800_90b/chi_square.h"
#include "tools/sp800_90b/estimate.h"
#include "tools/sp800_90b/lrs_test.h"
#include "tools/sp800_90b/permutation_test.h"
#include "tools/sp800_90b/samples.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talvora::tools::sp800_90b {

// The tests of the IID assumption on one sequence.
struct IidTests {
    ChiSquareResult independence;
    ChiSquareResult goodness_of_fit;
    LrsTestResult lrs;
    PermutationTestResult permutation;

    bool chi_square_passed() const { return independence.passed && goodness_of_fit.passed; }
    bool passed() const { return chi_square_passed() && lrs.passed && permutation.passed; }
};

struct IidOptions {
    std::size_t permutations = 10'000; // at most this many shuffles
    std::optional<std::uint64_t> seed; // drawn from the system when absent
    PermutationProgress progress;
};

// The raw value behind each literal symbol of samples with this histogram.
std::array<std::uint8_t, 256> literal_raw_values(const ByteHistogram& histogram);

// The tests on literal symbols < k (k >= 2) standing for the raw values
// raw[symbol]; the permutation test seeded with seed.
IidTests iid_tests(Symbols literal, unsigned k, const std::array<std::uint8_t, 256>& raw,
                   const IidOptions& options, std::uint64_t seed, WorkerPool& pool);

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

    // Absent when every sample has the same value.
    std::optional<IidTests> tests;
    bool is_iid = false; // every test passed
    std::vector<std::string> warnings;
};

// Assesses one sample per byte of data, each < 2^bits (else
// SampleRangeError), on pool. Throws std::invalid_argument for empty data
// or bits outside 1..8, PermutationTestStopped when progress says stop.
IidResult iid(Symbols data, unsigned bits, const IidOptions& options, WorkerPool& pool);
IidResult iid(Symbols data, unsigned bits, const IidOptions& options);

} // namespace talvora::tools::sp800_90b
