// src/tools/sp800_90b/lag.cpp: the lag estimate: 128 predictors, predictor
// d guessing the symbol d positions back; the one with the most correct
// guesses so far leads (ties: the one that reached the lead last, the
// larger lag within a step).
//
// Checking all 128 lags at every step costs 128 comparisons. Instead the
// sequence goes in blocks of 64 steps: a word of match bits per lag for the
// whole block, and only lags within 64 of the leader's score can take the
// lead during it, so only those are followed step by step; the others just
// add the popcount of their word.
#include "tools/sp800_90b/predictors.h"

#include <algorithm>
#include <array>
#include <bit>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace talvora::tools::sp800_90b {

namespace {

constexpr std::size_t LAGS = 128;
constexpr std::size_t BLOCK = 64;

// Bit t: s[from + t] == s[from + t - lag], for t < count <= 64.
std::uint64_t match_bits(const std::uint8_t* s, std::size_t from, std::size_t lag,
                         std::size_t count) {
    const std::uint8_t* a = s + from;
    const std::uint8_t* b = a - lag;
    std::uint64_t bits = 0;
    std::size_t t = 0;
#if defined(__SSE2__)
    for (; t + 16 <= count; t += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + t));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + t));
        const auto mask = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y)));
        bits |= std::uint64_t{mask} << t;
    }
#endif
    for (; t < count; ++t)
        bits |= std::uint64_t{a[t] == b[t]} << t;
    return bits;
}

class LagRace {
  public:
    // Step i with only the lags up to min(LAGS, i) active, one by one.
    void step(Symbols s, std::size_t i) {
        const std::uint8_t symbol = s[i];
        score_.score(s[i - winner_] == symbol);
        const std::size_t lags = std::min(LAGS, i);
        for (std::size_t d = 1; d <= lags; ++d)
            if (s[i - d] == symbol) credit(d);
    }

    // Steps from .. from + count - 1 (count <= BLOCK, from >= LAGS).
    void block(Symbols s, std::size_t from, std::size_t count) {
        std::array<std::uint64_t, LAGS + 1> matches;
        for (std::size_t d = 1; d <= LAGS; ++d)
            matches[d] = match_bits(s.data(), from, d, count);
        // Lags more than `count` behind can't reach the leader's score.
        const std::uint64_t lead = scores_[winner_];
        std::array<std::uint8_t, LAGS> close;
        std::size_t n_close = 0;
        for (std::size_t d = 1; d <= LAGS; ++d) {
            if (scores_[d] + count >= lead)
                close[n_close++] = static_cast<std::uint8_t>(d);
            else
                scores_[d] += static_cast<std::uint64_t>(std::popcount(matches[d]));
        }
        // The leader's score stays in a register; matches are taken without
        // branches, as they come at random.
        std::size_t winner = winner_;
        std::uint64_t leading = lead;
        for (std::size_t t = 0; t < count; ++t) {
            score_.score((matches[winner] >> t) & 1u);
            for (std::size_t c = 0; c < n_close; ++c) {
                const std::size_t d = close[c];
                const bool match = (matches[d] >> t) & 1u;
                const std::uint64_t mine = scores_[d] + match;
                scores_[d] = mine;
                const bool take = match && mine >= leading;
                winner = take ? d : winner;
                leading = take ? mine : leading;
            }
        }
        winner_ = winner;
    }

    PredictionCounts counts(std::size_t predictions) {
        score_.counts.predictions = predictions;
        return score_.counts;
    }

  private:
    void credit(std::size_t d) {
        if (++scores_[d] >= scores_[winner_]) winner_ = d;
    }

    std::array<std::uint64_t, LAGS + 1> scores_{};
    std::size_t winner_ = 1;
    PredictionScore score_;
};

} // namespace

PredictionCounts lag_counts(Symbols s) {
    const std::size_t n = s.size();
    LagRace race;
    std::size_t i = 1;
    for (; i < std::min(n, LAGS); ++i)
        race.step(s, i);
    for (; i < n; i += BLOCK)
        race.block(s, i, std::min(BLOCK, n - i));
    return race.counts(n - 1);
}

Estimate lag_estimate(Symbols s, unsigned k) {
    return prediction_estimate("Lag", lag_counts(s), k);
}

} // namespace talvora::tools::sp800_90b
