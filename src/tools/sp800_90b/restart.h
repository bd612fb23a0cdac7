// src/tools/sp800_90b/restart.h: the restart tests: a noise source
// restarted 1000 times, 1000 samples after each restart, laid out as a
// matrix with one restart per row. The rows and the columns (the i-th
// sample after every restart) must each carry the entropy claimed for the
// source, and no value may be too common in any single row or column.
#pragma once

#include "pool/pool.h"
#include "tools/sp800_90b/estimate.h"
#include "tools/sp800_90b/iid.h"
#include "tools/sp800_90b/samples.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace talvora::tools::sp800_90b {

inline constexpr std::size_t RESTARTS = 1000;            // rows
inline constexpr std::size_t SAMPLES_PER_RESTART = 1000; // columns

struct RestartSanityCheck {
    double alpha = 0;            // significance per row or column
    std::uint64_t cutoff = 0;    // X_cutoff: the most the commonest value may occur
    std::uint64_t max_count = 0; // X_max: the most any row's or column's commonest value occurs
    bool passed = false;         // max_count <= cutoff
};

// The assessment of one dataset: the rows in order, or the columns.
struct RestartDataset {
    std::vector<Estimate> estimates; // on the samples renumbered by rank
    double min_entropy = 0;          // H_r or H_c: the least estimate, capped at bits
    std::optional<IidTests> tests;   // the IID tests, when assessed as IID
};

struct RestartResult {
    unsigned bits = 8;
    double h_initial = 0; // H_I, the entropy claimed for the source
    bool iid = false;
    unsigned k = 0; // distinct sample values
    RestartSanityCheck sanity;
    // The assessment stops when the sanity check fails: these stay absent.
    std::optional<RestartDataset> rows;
    std::optional<RestartDataset> columns;
    bool validated = false;         // min(H_r, H_c) >= H_I / 2
    std::optional<double> assessed; // min(H_r, H_c, H_I), when validated
    std::vector<std::string> warnings;
};

struct RestartOptions {
    bool iid = false;       // most common value estimate and IID tests, not the non-IID estimators
    IidOptions iid_options; // for the IID tests' permutation tests
    std::stop_token stop;   // for the non-IID estimators (see non_iid)
};

// The tests on RESTARTS * SAMPLES_PER_RESTART samples of `bits` bits, one
// restart after another, for a claimed entropy 0 <= h_initial <= bits.
// Throws std::invalid_argument for other sizes or claims,
// SampleRangeError for a sample wider than bits.
RestartResult restart(Symbols data, unsigned bits, double h_initial, const RestartOptions& options,
                      WorkerPool& pool);
RestartResult restart(Symbols data, unsigned bits, double h_initial, const RestartOptions& options);

// The column dataset: sample c of every restart, then sample c + 1, ...
std::vector<std::uint8_t> restart_columns(Symbols rows);

} // namespace talvora::tools::sp800_90b
