// src/tools/sp800_90b/multi_mmc.cpp: the multiple Markov model with
// counting estimate: sixteen predictors, the one of order m guessing the
// symbol that most often followed the last m symbols.
//
// Two rules of the reference tool are kept, as they change the counts once
// a dictionary is full: when the leading order has no prediction the run of
// correct predictions goes on; and once a prefix of some order is unknown,
// longer ones are not looked up but counted in with their entry counter
// raised whether or not the pair existed.
#include "tools/sp800_90b/binary_prefix_counts.h"
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
    // At a step that began with `leader` leading, order m predicted
    // correctly or not.
    void predicted(unsigned m, unsigned leader, bool correct) {
        scores_[m] += correct;
        winner_ = correct && scores_[m] >= scores_[winner_] ? m : winner_;
        if (m == leader) score_.score(correct);
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
    // Counts made without a lookup wait in `pending` (the positions of the
    // symbols counted) until the order is next looked up; on varied data
    // most long orders never are.
    struct Order {
        PrefixDictionary dictionary;
        std::vector<std::uint32_t> pending;
        std::uint32_t entries = 0;
    };
    std::vector<Order> orders;
    orders.reserve(ORDERS);
    for (unsigned m = 1; m <= ORDERS; ++m)
        orders.push_back({PrefixDictionary(s, m, k), {}, 0});
    const auto count_in = [&](unsigned m) {
        Order& order = orders[m - 1];
        for (const std::uint32_t end : order.pending) {
            const PrefixKey key = prefix_key(s, end, m, width);
            Prefix* prefix = order.dictionary.find(key, end);
            if (prefix == nullptr) prefix = order.dictionary.insert(key, end);
            order.dictionary.count(*prefix, s[end]);
        }
        order.pending.clear();
    };

    // Order m starts with the pair of the first m symbols and the next.
    for (unsigned m = 1; m <= ORDERS && m + 1 < n; ++m) {
        orders[m - 1].pending.push_back(m);
        orders[m - 1].entries = 1;
    }

    OrderRace race;
    PrefixKey key = (PrefixKey{s[0]} << width) | s[1]; // the symbols before position i
    for (std::size_t i = 2; i < n; ++i) {
        const std::uint8_t symbol = s[i];
        const unsigned leader = race.winner();
        const unsigned deepest = static_cast<unsigned>(std::min<std::size_t>(ORDERS, i - 1));
        for (unsigned m = 1; m <= deepest; ++m)
            orders[m - 1].dictionary.prefetch(key);
        bool known = true;
        for (unsigned m = 1; m <= deepest; ++m) {
            Order& order = orders[m - 1];
            Prefix* prefix = nullptr;
            if (known) {
                if (!order.pending.empty()) count_in(m);
                prefix = order.dictionary.find(key, i);
                known = prefix != nullptr;
            }
            if (known) {
                race.predicted(m, leader, prefix->best_symbol == symbol);
                if (order.dictionary.count(*prefix, symbol, order.entries < MAX_ENTRIES))
                    ++order.entries;
            } else if (order.entries < MAX_ENTRIES) {
                order.pending.push_back(static_cast<std::uint32_t>(i));
                ++order.entries;
            }
        }
        key = (key << width) | symbol;
    }
    return race.counts(n - 2);
}

// The race is kept in locals: the leader's score in a register cuts the
// chain of dependent loads from order to order.
PredictionCounts multi_mmc_counts_binary(Symbols s) {
    static_assert(ORDERS == BinaryPrefixCounts::LONGEST);
    const std::size_t n = s.size();
    BinaryPrefixCounts tables;
    const auto one = BinaryPrefixCounts::one;
    std::array<std::uint32_t, ORDERS + 1> entries{};
    std::uint32_t history = 0; // the bits before position i
    for (unsigned m = 1; m <= ORDERS && m + 1 < n; ++m) {
        history = (history << 1) | s[m - 1];
        tables.at(m, history) = one(s[m]);
        entries[m] = 1;
    }

    std::array<std::uint64_t, ORDERS + 1> scores{};
    unsigned winner = 1;
    std::uint64_t lead = 0; // scores[winner]
    PredictionScore score;
    history = (std::uint32_t{s[0]} << 1) | s[1];
    for (std::size_t i = 2; i < n; ++i) {
        const std::uint8_t bit = s[i];
        const unsigned leader = winner;
        const unsigned deepest = static_cast<unsigned>(std::min<std::size_t>(ORDERS, i - 1));
        std::uint32_t right_orders = 0; // bit m: order m predicted rightly
        unsigned m = 1;
        for (; m <= deepest; ++m) {
            std::uint64_t& counts = tables.at(m, history);
            if (counts == 0) break; // unknown: this and longer orders just count
            const std::uint32_t c0 = BinaryPrefixCounts::zeros(counts);
            const std::uint32_t c1 = BinaryPrefixCounts::ones(counts);
            const bool right = (c1 >= c0) == (bit == 1); // ties go to 1
            const std::uint64_t mine = scores[m] + right;
            scores[m] = mine;
            const bool take = right && mine >= lead;
            winner = take ? m : winner;
            lead = take ? mine : lead;
            right_orders |= std::uint32_t{right} << m;
            // A new pair only while the order has room; without branches,
            // as on skewed data new pairs come at random.
            const bool seen = (bit ? c1 : c0) != 0;
            const bool counted = seen || entries[m] < MAX_ENTRIES;
            counts += counted ? one(bit) : 0;
            entries[m] += !seen && counted;
        }
        const bool led = leader < m; // the leader's order was known
        for (; m <= deepest; ++m)
            if (entries[m] < MAX_ENTRIES) {
                tables.at(m, history) += one(bit);
                ++entries[m];
            }
        if (led) score.score((right_orders >> leader) & 1u);
        history = (history << 1) | bit;
    }
    score.counts.predictions = n - 2;
    return score.counts;
}

Estimate multi_mmc_estimate(Symbols s, unsigned k) {
    if (s.size() < MULTI_MMC_MIN_LEN) return too_short("MultiMMC", MULTI_MMC_MIN_LEN);
    return prediction_estimate("MultiMMC",
                               k == 2 ? multi_mmc_counts_binary(s) : multi_mmc_counts_any(s, k), k);
}

} // namespace talvora::tools::sp800_90b
