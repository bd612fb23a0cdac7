// src/tools/sp800_90b/lz78y.cpp: the LZ78Y estimate: the dictionaries of
// all prefixes up to 16 symbols long (65,536 prefixes in all) guess the
// follower seen most often after the longest prefix with the strongest
// evidence.
#include "tools/sp800_90b/binary_prefix_counts.h"
#include "tools/sp800_90b/predictors.h"
#include "tools/sp800_90b/prefix_dictionary.h"

#include <array>
#include <vector>

namespace talvora::tools::sp800_90b {

namespace {
constexpr unsigned MAX_LENGTH = 16;
constexpr std::uint32_t MAX_PREFIXES = 65'536;
} // namespace

PredictionCounts lz78y_counts_any(Symbols s, unsigned k) {
    const std::size_t n = s.size();
    const unsigned width = key_width(k);
    std::vector<PrefixDictionary> dictionaries;
    dictionaries.reserve(MAX_LENGTH);
    for (unsigned m = 1; m <= MAX_LENGTH; ++m)
        dictionaries.emplace_back(s, m, k);

    // Each length starts with the prefix ending just before position 16.
    PrefixKey key = prefix_key(s, MAX_LENGTH, MAX_LENGTH, width); // the symbols before i
    for (unsigned m = 1; m <= MAX_LENGTH; ++m) {
        PrefixDictionary& dictionary = dictionaries[m - 1];
        dictionary.count(*dictionary.insert(key, MAX_LENGTH), s[MAX_LENGTH]);
    }
    std::uint32_t prefixes = MAX_LENGTH;
    key = (key << width) | s[MAX_LENGTH];

    PredictionScore score;
    for (std::size_t i = MAX_LENGTH + 1; i < n; ++i) {
        const std::uint8_t symbol = s[i];
        bool have = false;
        std::uint8_t guess = 0;
        std::uint32_t best = 0;
        for (unsigned m = MAX_LENGTH; m >= 1; --m) {
            PrefixDictionary& dictionary = dictionaries[m - 1];
            Prefix* prefix = dictionary.find(key, i);
            if (prefix != nullptr) {
                // Predictions come from the counts before this step; a
                // shorter prefix needs strictly more evidence.
                if (prefix->best_count > best) {
                    best = prefix->best_count;
                    guess = prefix->best_symbol;
                    have = true;
                }
            } else if (prefixes < MAX_PREFIXES) {
                prefix = dictionary.insert(key, i);
                ++prefixes;
            } else {
                continue;
            }
            dictionary.count(*prefix, symbol);
        }
        score.score(have && guess == symbol);
        key = (key << width) | symbol;
    }
    score.counts.predictions = n - (MAX_LENGTH + 1);
    return score.counts;
}

PredictionCounts lz78y_counts_binary(Symbols s) {
    static_assert(MAX_LENGTH == BinaryPrefixCounts::LONGEST);
    const std::size_t n = s.size();
    BinaryPrefixCounts tables;
    const auto one = BinaryPrefixCounts::one;
    std::uint32_t history = 0; // the bits before position i
    for (std::size_t i = 0; i < MAX_LENGTH; ++i)
        history = (history << 1) | s[i];
    for (unsigned m = 1; m <= MAX_LENGTH; ++m)
        tables.at(m, history) = one(s[MAX_LENGTH]);
    std::uint32_t prefixes = MAX_LENGTH;
    history = (history << 1) | s[MAX_LENGTH];

    PredictionScore score;
    for (std::size_t i = MAX_LENGTH + 1; i < n; ++i) {
        const std::uint8_t bit = s[i];
        const std::uint64_t step = one(bit);
        bool have = false;
        std::uint8_t guess = 0;
        std::uint32_t best = 0;
        for (unsigned m = MAX_LENGTH; m >= 1; --m) {
            std::uint64_t& counts = tables.at(m, history);
            const std::uint32_t c0 = BinaryPrefixCounts::zeros(counts);
            const std::uint32_t c1 = BinaryPrefixCounts::ones(counts);
            // Without branches on the data: a missing prefix has counts 0
            // and never has the most evidence.
            const std::uint32_t most = std::max(c0, c1);
            const bool better = most > best; // ties go to the larger symbol
            best = better ? most : best;
            guess = better ? c1 >= c0 : guess;
            have |= better;
            // Once the dictionary is full, missing prefixes stay missing:
            // the branch below is then never taken.
            const bool exists = counts != 0;
            counts += exists ? step : 0;
            if (!exists && prefixes < MAX_PREFIXES) {
                counts = step;
                ++prefixes;
            }
        }
        score.score(have && guess == bit);
        history = (history << 1) | bit;
    }
    score.counts.predictions = n - (MAX_LENGTH + 1);
    return score.counts;
}

Estimate lz78y_estimate(Symbols s, unsigned k) {
    if (s.size() < LZ78Y_MIN_LEN) return too_short("LZ78Y", LZ78Y_MIN_LEN);
    return prediction_estimate("LZ78Y", k == 2 ? lz78y_counts_binary(s) : lz78y_counts_any(s, k),
                               k);
}

} // namespace talvora::tools::sp800_90b
