// src/tools/sp800_90b/permutation_statistics.h: the nineteen statistics of
// the IID permutation test, evaluated on one ordering of the samples.
#pragma once

#include "tools/sp800_90b/samples.h"

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace talvora::tools::sp800_90b {

inline constexpr std::size_t PERMUTATION_STATISTICS = 19;
// The last statistic, the bzip2 length, costs more than all others together.
inline constexpr std::size_t COMPRESSION_STATISTIC = 18;

// The names as the reference tool prints them, in its order.
extern const std::array<std::string_view, PERMUTATION_STATISTICS> PERMUTATION_STATISTIC_NAMES;

using StatisticValues = std::array<double, PERMUTATION_STATISTICS>;
using StatisticSet = std::bitset<PERMUTATION_STATISTICS>;

// What the statistics know of the samples apart from their order. Samples
// are handled as literal symbols; raw[] gives each one's original value.
struct PermutationData {
    unsigned alphabet = 0;               // k, the number of distinct values
    std::array<std::uint8_t, 256> raw{}; // raw value of each literal symbol
    double mean = 0;                     // of the raw values
    std::uint8_t below_median = 0;       // symbols < this one lie below the median
    bool binary() const noexcept { return alphabet == 2; }

    // The facts of these literal symbols and the raw values they stand for.
    static PermutationData of(Symbols literal, const std::array<std::uint8_t, 256>& raw,
                              unsigned alphabet);
};

// The median of literal symbols as the reference tool takes it: the middle
// symbol, the mean of the two middle ones for an even count, 0.5 for binary
// data.
double literal_median(Symbols literal, unsigned alphabet);

// Scratch space for evaluating the statistics on sequences of one length;
// one per thread.
class StatisticsWorkspace {
  public:
    StatisticsWorkspace(const PermutationData& data, std::size_t n);

    // Writes the value of every statistic in wanted except compression into
    // values (and may write others that come from the same pass). Given the
    // statistics of the original ordering, a value may be worked out only as
    // far as its order against the original's goes (the shuffles need no
    // more).
    void evaluate(Symbols symbols, StatisticSet wanted, StatisticValues& values,
                  const StatisticValues* originals = nullptr);

  private:
    const PermutationData& data_;
    std::vector<std::uint8_t> raw_;        // raw values, when they differ from the symbols
    std::vector<std::uint8_t> ones_;       // binary: ones in each 8-bit block
    std::vector<std::uint8_t> bytes_;      // binary: each 8-bit block as a byte
    std::vector<std::uint64_t> words_;     // flags of a run statistic, packed
    std::array<std::int64_t, 256> last_{}; // collision scan: where each symbol was last seen
};

} // namespace talvora::tools::sp800_90b
