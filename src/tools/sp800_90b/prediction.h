// src/tools/sp800_90b/prediction.h: the step shared by the four prediction
// estimates: from the count of correct predictions and the longest run of
// them to a min-entropy, through the global and the local bound.
#pragma once

#include "tools/sp800_90b/estimate.h"

#include <cstdint>
#include <string>

namespace talvora::tools::sp800_90b {

struct PredictionCounts {
    std::uint64_t correct = 0;     // C
    std::uint64_t predictions = 0; // N
    std::uint64_t longest_run = 0; // longest run of correct predictions (r - 1)
};

// Tracks C and the longest run as predictions are scored; without
// branches, as correct and wrong guesses alternate at random.
struct PredictionScore {
    PredictionCounts counts;
    std::uint64_t run = 0;

    void score(bool correct) {
        counts.correct += correct;
        run = (run + 1) * correct;
        counts.longest_run = run > counts.longest_run ? run : counts.longest_run;
    }
    void hit() { score(true); }
    void miss() { run = 0; }
};

// An estimate without a value: its sequence is shorter than min_length.
Estimate too_short(std::string name, std::size_t min_length);

// The estimate called name, for an alphabet of k symbols; counts.predictions >= 1.
Estimate prediction_estimate(std::string name, const PredictionCounts& counts, unsigned k);

// ln of the probability that n Bernoulli(p) trials hold no run of r
// successes, in x87 extended precision (a double evaluation loses 1e-9 of
// the local bound's digits).
double log_no_run_probability(double p, std::uint64_t r, std::uint64_t n);

} // namespace talvora::tools::sp800_90b
