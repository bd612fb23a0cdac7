// src/tools/sp800_90b/multi_mcw.cpp: the multiple most-common-in-window
// estimate: four predictors guess the most common symbol of the last 63,
// 255, 1023 or 4095 symbols (ties: the one seen last).
#include "tools/sp800_90b/predictors.h"

#include <array>
#include <vector>

namespace talvora::tools::sp800_90b {

namespace {

constexpr std::array<std::size_t, 4> WINDOWS{63, 255, 1023, 4095};

// The counts of one window and its mode. last[] (the position each symbol
// was last seen at) is shared by all windows: a symbol in a window was last
// seen inside it. have[c] counts the symbols seen c times, so that losing
// one occurrence of a clear mode (the usual case on skewed data) needs no
// scan of the alphabet.
class Window {
  public:
    Window(unsigned k, std::size_t length) : counts_(k, 0), have_(length + 2, 0) { have_[0] = k; }

    void add(std::uint8_t symbol) {
        const std::uint32_t now = ++counts_[symbol];
        --have_[now - 1];
        ++have_[now];
        // The symbol just added is the latest seen, so it wins ties.
        if (now >= mode_count_) {
            mode_ = symbol;
            mode_count_ = now;
        }
    }
    void remove(std::uint8_t symbol, const std::vector<std::size_t>& last) {
        const std::uint32_t now = --counts_[symbol];
        --have_[now + 1];
        ++have_[now];
        // Another symbol's removal leaves the mode as it was; the mode's own
        // leaves it in the lead if no other symbol reaches its new count,
        // else hands the lead to the latest seen of the symbols then ahead.
        if (symbol != mode_) return;
        if (have_[now + 1] == 0 && have_[now] == 1) {
            mode_count_ = now;
            return;
        }
        mode_count_ = 0;
        for (unsigned c = 0; c < counts_.size(); ++c)
            if (counts_[c] > mode_count_ ||
                (counts_[c] == mode_count_ && counts_[c] != 0 && last[c] > last[mode_])) {
                mode_ = static_cast<std::uint8_t>(c);
                mode_count_ = counts_[c];
            }
    }
    std::uint8_t mode() const { return mode_; }

  private:
    std::vector<std::uint32_t> counts_;
    std::vector<std::uint32_t> have_;
    std::uint8_t mode_ = 0;
    std::uint32_t mode_count_ = 0;
};

// The leader switch shared by both kernels: predictor j (active) was right.
void credit(std::array<std::uint64_t, WINDOWS.size()>& scores, std::size_t& winner, std::size_t j) {
    if (++scores[j] >= scores[winner]) winner = j;
}

} // namespace

PredictionCounts multi_mcw_counts_any(Symbols s, unsigned k) {
    const std::size_t n = s.size();
    std::vector<Window> windows;
    for (const std::size_t length : WINDOWS)
        windows.emplace_back(k, length);
    std::vector<std::size_t> last(k, 0);
    std::array<std::uint64_t, WINDOWS.size()> scores{};
    std::size_t winner = 0;
    PredictionScore score;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t symbol = s[i];
        if (i >= WINDOWS[0]) {
            score.score(windows[winner].mode() == symbol);
            for (std::size_t j = 0; j < WINDOWS.size() && i >= WINDOWS[j]; ++j)
                if (windows[j].mode() == symbol) credit(scores, winner, j);
        }
        last[symbol] = i;
        for (std::size_t j = 0; j < WINDOWS.size(); ++j) {
            windows[j].add(symbol);
            if (i >= WINDOWS[j]) windows[j].remove(s[i - WINDOWS[j]], last);
        }
    }
    score.counts.predictions = n - WINDOWS[0];
    return score.counts;
}

// Windows of odd length never tie on bits: each predicts its majority.
PredictionCounts multi_mcw_counts_binary(Symbols s) {
    const std::size_t n = s.size();
    std::array<std::uint32_t, WINDOWS.size()> ones{};
    std::array<std::uint64_t, WINDOWS.size()> scores{};
    std::size_t winner = 0;
    PredictionScore score;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t bit = s[i];
        if (i >= WINDOWS[0]) {
            std::array<std::uint8_t, WINDOWS.size()> guess;
            for (std::size_t j = 0; j < WINDOWS.size(); ++j)
                guess[j] = 2 * ones[j] > WINDOWS[j];
            score.score(guess[winner] == bit);
            for (std::size_t j = 0; j < WINDOWS.size() && i >= WINDOWS[j]; ++j)
                if (guess[j] == bit) credit(scores, winner, j);
        }
        for (std::size_t j = 0; j < WINDOWS.size(); ++j)
            ones[j] += bit - (i >= WINDOWS[j] ? s[i - WINDOWS[j]] : 0);
    }
    score.counts.predictions = n - WINDOWS[0];
    return score.counts;
}

Estimate multi_mcw_estimate(Symbols s, unsigned k) {
    if (s.size() < MULTI_MCW_MIN_LEN) return too_short("MultiMCW", MULTI_MCW_MIN_LEN);
    return prediction_estimate("MultiMCW",
                               k == 2 ? multi_mcw_counts_binary(s) : multi_mcw_counts_any(s, k), k);
}

} // namespace talvora::tools::sp800_90b
