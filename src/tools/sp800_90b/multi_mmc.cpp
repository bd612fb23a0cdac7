// src/tools/sp800_90b/multi_mmc.cpp: the multiple Markov model with
// counting estimate: sixteen predictors, the one of order m guessing the
// symbol that most often followed the last m symbols.
//
// Two rules of the reference tool are kept, as they change the counts once
// a dictionary is full: when the leading order has no prediction the run of
// correct predictions goes on; and once a prefix of some order is unknown,
// longer ones are not looked up but counted in with their entry counter
// raised whether or not the pair existed.
#include "tools/sp800_90b/predictors.h"
#include "tools/sp800_90b/prefix_dictionary.h"

#include <algorithm>
#include <array>
#include <vector>

namespace talvora::tools::sp800_90b {

namespace {

constexpr unsigned ORDERS = 16;
constexpr std::uint32_t MAX_ENTRIES = 100'000;

// The scores of the sixteen orders and the leader.
class OrderRace {
  public:
    // Order m predicted `guess` for `symbol`; leader is the leader when the
    // step began.
    void predicted(unsigned m, unsigned leader, bool correct) {
        if (correct) {
            if (++scores_[m] >= scores_[winner_]) winner_ = m;
            if (m == leader) score_.hit();
        } else if (m == leader) {
            score_.miss();
        }
    }
    unsigned winner() const { return winner_; }
    PredictionCounts counts(std::size_t predictions) {
        score_.counts.predictions = predictions;
        return score_.counts;
    }

  private:
    std::array<std::uint64_t, ORDERS + 1> scores_{};
    unsigned winner_ = 1;
    PredictionScore score_;
};

} // namespace

PredictionCounts multi_mmc_counts_any(Symbols s, unsigned k) {
    const std::size_t n = s.size();
    const unsigned width = key_width(k);
    std::vector<PrefixDictionary> dictionaries;
    dictionaries.reserve(ORDERS);
    for (unsigned m = 1; m <= ORDERS; ++m)
        dictionaries.emplace_back(s, m, k);
    std::array<std::uint32_t, ORDERS + 1> entries{};

    // Order m starts with the pair of the first m symbols and the next.
    PrefixKey key = 0; // the symbols before position i
    for (unsigned m = 1; m <= ORDERS && m + 1 < n; ++m) {
        key = (key << width) | s[m - 1];
        PrefixDictionary& dictionary = dictionaries[m - 1];
        dictionary.increment(dictionary.insert(key, m), s[m]);
        entries[m] = 1;
    }

    OrderRace race;
    key = (PrefixKey{s[0]} << width) | s[1];
    for (std::size_t i = 2; i < n; ++i) {
        const std::uint8_t symbol = s[i];
        const unsigned leader = race.winner();
        const unsigned orders = static_cast<unsigned>(std::min<std::size_t>(ORDERS, i - 1));
        bool known = true;
        for (unsigned m = 1; m <= orders; ++m) {
            PrefixDictionary& dictionary = dictionaries[m - 1];
            std::uint32_t prefix = PrefixDictionary::NONE;
            if (known) {
                prefix = dictionary.find(key, i);
                known = prefix != PrefixDictionary::NONE;
            }
            if (known) {
                race.predicted(m, leader, dictionary.best_symbol(prefix) == symbol);
                if (dictionary.count(prefix, symbol) != 0) {
                    dictionary.increment(prefix, symbol);
                } else if (entries[m] < MAX_ENTRIES) {
                    dictionary.increment(prefix, symbol);
                    ++entries[m];
                }
            } else if (entries[m] < MAX_ENTRIES) {
                prefix = dictionary.find(key, i);
                if (prefix == PrefixDictionary::NONE) prefix = dictionary.insert(key, i);
                dictionary.increment(prefix, symbol);
                ++entries[m];
            }
        }
        key = (key << width) | symbol;
    }
    return race.counts(n - 2);
}

// Order m's table: the counts of 0 and 1 after each m-bit prefix (newest
// bit lowest); a prefix is known once it has a count.
PredictionCounts multi_mmc_counts_binary(Symbols s) {
    const std::size_t n = s.size();
    std::array<std::vector<std::array<std::uint32_t, 2>>, ORDERS + 1> tables;
    for (unsigned m = 1; m <= ORDERS; ++m)
        tables[m].assign(std::size_t{1} << m, {0, 0});
    std::array<std::uint32_t, ORDERS + 1> entries{};
    std::uint32_t history = 0; // the bits before position i
    for (unsigned m = 1; m <= ORDERS && m + 1 < n; ++m) {
        history = (history << 1) | s[m - 1];
        tables[m][history][s[m]] = 1;
        entries[m] = 1;
    }

    OrderRace race;
    history = (std::uint32_t{s[0]} << 1) | s[1];
    for (std::size_t i = 2; i < n; ++i) {
        const std::uint8_t bit = s[i];
        const unsigned leader = race.winner();
        const unsigned orders = static_cast<unsigned>(std::min<std::size_t>(ORDERS, i - 1));
        bool known = true;
        for (unsigned m = 1; m <= orders; ++m) {
            std::array<std::uint32_t, 2>& counts = tables[m][history & ((1u << m) - 1)];
            if (known) known = (counts[0] | counts[1]) != 0;
            if (known) {
                // Ties go to the larger symbol.
                race.predicted(m, leader, (counts[1] >= counts[0]) == (bit == 1));
                if (counts[bit] != 0) {
                    ++counts[bit];
                } else if (entries[m] < MAX_ENTRIES) {
                    counts[bit] = 1;
                    ++entries[m];
                }
            } else if (entries[m] < MAX_ENTRIES) {
                ++counts[bit];
                ++entries[m];
            }
        }
        history = (history << 1) | bit;
    }
    return race.counts(n - 2);
}

Estimate multi_mmc_estimate(Symbols s, unsigned k) {
    if (s.size() < MULTI_MMC_MIN_LEN) {
        Estimate estimate("MultiMMC");
        estimate.note = "needs at least " + std::to_string(MULTI_MMC_MIN_LEN) + " symbols";
        return estimate;
    }
    return prediction_estimate("MultiMMC",
                               k == 2 ? multi_mmc_counts_binary(s) : multi_mmc_counts_any(s, k), k);
}

} // namespace talvora::tools::sp800_90b
