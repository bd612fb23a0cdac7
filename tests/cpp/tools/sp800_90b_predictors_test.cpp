// tests/cpp/tools/sp800_90b_predictors_test.cpp: the fast prediction
// kernels against the plain ones: the flat-table kernels for bits against
// the any-alphabet dictionaries, the block-wise lag race against checking
// every lag at every step.
#include "sp800_90b_sources.h"
#include "tools/sp800_90b/predictors.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace talvora::tools::sp800_90b::testing {
namespace {

void expect_counts(const PredictionCounts& fast, const PredictionCounts& plain) {
    EXPECT_EQ(fast.correct, plain.correct);
    EXPECT_EQ(fast.predictions, plain.predictions);
    EXPECT_EQ(fast.longest_run, plain.longest_run);
}

// Every lag at every step; the winner is the last lag to reach the best
// score.
PredictionCounts lag_counts_plain(Symbols s) {
    std::vector<std::uint64_t> scores(129, 0);
    std::size_t winner = 1;
    PredictionScore score;
    for (std::size_t i = 1; i < s.size(); ++i) {
        score.score(s[i - winner] == s[i]);
        for (std::size_t d = 1; d <= std::min<std::size_t>(128, i); ++d)
            if (s[i - d] == s[i] && ++scores[d] >= scores[winner]) winner = d;
    }
    score.counts.predictions = s.size() - 1;
    return score.counts;
}

// Each window's mode recounted at every step (ties: the symbol seen last).
PredictionCounts multi_mcw_counts_plain(Symbols s, unsigned k) {
    const std::size_t windows[] = {63, 255, 1023, 4095};
    std::uint64_t scores[4] = {};
    std::size_t winner = 0;
    PredictionScore score;
    for (std::size_t i = 63; i < s.size(); ++i) {
        int guess[4] = {-1, -1, -1, -1};
        for (std::size_t j = 0; j < 4 && i >= windows[j]; ++j) {
            std::vector<std::size_t> count(k, 0), last(k, 0);
            for (std::size_t p = i - windows[j]; p < i; ++p) {
                ++count[s[p]];
                last[s[p]] = p;
            }
            std::size_t best = 0;
            for (unsigned c = 1; c < k; ++c)
                if (count[c] > count[best] || (count[c] == count[best] && last[c] > last[best]))
                    best = c;
            guess[j] = static_cast<int>(best);
        }
        score.score(guess[winner] == s[i]);
        for (std::size_t j = 0; j < 4; ++j)
            if (guess[j] == s[i] && ++scores[j] >= scores[winner]) winner = j;
    }
    score.counts.predictions = s.size() - 63;
    return score.counts;
}

std::vector<Samples> binary_inputs() {
    return {biased_bits(30'000, 0.5, 1),
            biased_bits(20'000, 0.1, 2),
            biased_bits(5'000, 0.97, 3),
            alternating(9'000, 0, 1),
            repeated_block(12'000, 129, 1, 4),
            repeated_block(7'000, 5'000, 1, 5),
            Samples(6'000, 1),
            biased_bits(4'096, 0.5, 6)};
}

TEST(BinaryKernels, MatchAnyAlphabetKernels) {
    for (const Samples& s : binary_inputs()) {
        expect_counts(multi_mcw_counts_binary(s), multi_mcw_counts_any(s, 2));
        expect_counts(multi_mmc_counts_binary(s), multi_mmc_counts_any(s, 2));
        expect_counts(lz78y_counts_binary(s), lz78y_counts_any(s, 2));
    }
    // Short sequences at each kernel's minimum length.
    for (std::size_t n = 3; n < 40; ++n) {
        const Samples s = biased_bits(n, 0.5, n);
        expect_counts(multi_mmc_counts_binary(s), multi_mmc_counts_any(s, 2));
        if (n >= LZ78Y_MIN_LEN) expect_counts(lz78y_counts_binary(s), lz78y_counts_any(s, 2));
    }
}

// Past 100,000 entries the order-16 dictionary of bits stops growing.
TEST(BinaryKernels, MultiMmcFullDictionary) {
    const Samples s = biased_bits(400'000, 0.5, 7);
    expect_counts(multi_mmc_counts_binary(s), multi_mmc_counts_any(s, 2));
}

// Skewed data keeps a clear mode (no rescan); runs and few values make
// ties; many values make the mode leave the window often.
TEST(MultiMcw, MatchesRecountedWindows) {
    // Runs of one value longer than the smaller windows.
    Samples runs(6'000);
    for (std::size_t i = 0; i < runs.size(); ++i)
        runs[i] = static_cast<std::uint8_t>((i / 300) % 3);
    for (const auto& [s, k] :
         {std::pair{skewed_bytes(6'000, 11), 256u},
          std::pair{repeated_block(6'000, 700, 2, 12), 4u},
          std::pair{uniform_samples(6'000, 8, 13), 256u}, std::pair{markov_nibbles(6'000, 14), 16u},
          std::pair{biased_bits(6'000, 0.5, 15), 2u}, std::pair{runs, 3u}})
        expect_counts(multi_mcw_counts_any(s, k), multi_mcw_counts_plain(s, k));
}

TEST(LagRace, BlocksMatchEveryStep) {
    for (const Samples& s : binary_inputs())
        expect_counts(lag_counts(s), lag_counts_plain(s));
    for (const Samples& s : {uniform_samples(20'000, 8, 8), markov_nibbles(20'000, 9),
                             skewed_bytes(20'000, 10), alternating(3'000, 7, 200)})
        expect_counts(lag_counts(s), lag_counts_plain(s));
    // Every length around the first block and the block edges.
    for (std::size_t n = 2; n < 300; ++n) {
        const Samples s = uniform_samples(n, 2, n);
        expect_counts(lag_counts(s), lag_counts_plain(s));
    }
}

} // namespace
} // namespace talvora::tools::sp800_90b::testing
