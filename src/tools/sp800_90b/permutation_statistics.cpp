// src/tools/sp800_90b/permutation_statistics.cpp: the cheap permutation
// statistics. Each runs once per permutation on up to millions of samples,
// so each is one branch-poor pass; integer results are exact.
#include "tools/sp800_90b/permutation_statistics.h"

#include "entropy/entropy.h"
#include "tools/sp800_90b/sequence_kernels.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace talvora::tools::sp800_90b {

const std::array<std::string_view, PERMUTATION_STATISTICS> PERMUTATION_STATISTIC_NAMES = {
    "excursion",       "numDirectionalRuns", "lenDirectionalRuns", "numIncreasesDecreases",
    "numRunsMedian",   "lenRunsMedian",      "avgCollision",       "maxCollision",
    "periodicity(1)",  "periodicity(2)",     "periodicity(8)",     "periodicity(16)",
    "periodicity(32)", "covariance(1)",      "covariance(2)",      "covariance(8)",
    "covariance(16)",  "covariance(32)",     "compression"};

namespace {

enum Statistic : std::size_t {
    EXCURSION,
    DIRECTIONAL_RUNS,
    DIRECTIONAL_LONGEST,
    INCREASES_DECREASES,
    MEDIAN_RUNS,
    MEDIAN_LONGEST,
    COLLISION_MEAN,
    COLLISION_MAX,
    PERIODICITY,
    COVARIANCE = PERIODICITY + 5,
};
constexpr std::array<std::size_t, 5> LAGS = {1, 2, 8, 16, 32};
constexpr StatisticSet COVARIANCES{0x1fu << COVARIANCE};
// The statistics that binary data feed with blocks of 8 bits.
constexpr StatisticSet ON_BLOCKS{(1u << DIRECTIONAL_RUNS) | (1u << DIRECTIONAL_LONGEST) |
                                 (1u << INCREASES_DECREASES) | (1u << COLLISION_MEAN) |
                                 (1u << COLLISION_MAX) | (0x1fu << PERIODICITY) |
                                 (0x1fu << COVARIANCE)};

// Directional runs of b: the direction between neighbours is "down" when
// b[i] > b[i + 1], "up" otherwise (equal neighbours go up).
void directional(Symbols b, std::vector<std::uint64_t>& words, StatisticSet wanted,
                 StatisticValues& values) {
    if (!wanted[DIRECTIONAL_RUNS] && !wanted[DIRECTIONAL_LONGEST] && !wanted[INCREASES_DECREASES])
        return;
    const std::size_t steps = b.size() < 2 ? 0 : b.size() - 1;
    const std::span<std::uint64_t> flags(words.data(), (steps + 63) / 64);
    pack_descents(b, flags);
    const Runs runs = flag_runs(flags, steps);
    values[DIRECTIONAL_RUNS] = static_cast<double>(runs.count);
    values[DIRECTIONAL_LONGEST] = static_cast<double>(runs.longest);
    const std::uint64_t downs = count_flags(flags);
    values[INCREASES_DECREASES] = static_cast<double>(std::max(downs, steps - downs));
}

void median_runs(Symbols b, std::uint8_t below, std::vector<std::uint64_t>& words,
                 StatisticSet wanted, StatisticValues& values) {
    if (!wanted[MEDIAN_RUNS] && !wanted[MEDIAN_LONGEST]) return;
    const std::span<std::uint64_t> flags(words.data(), (b.size() + 63) / 64);
    pack_below(b, below, flags);
    const Runs runs = flag_runs(flags, b.size());
    values[MEDIAN_RUNS] = static_cast<double>(runs.count);
    values[MEDIAN_LONGEST] = static_cast<double>(runs.longest);
}

// The block start after position: position + 1 when the value there was
// last seen at or after start (a repeat ends the block), else start. Block
// ends come too often, and too irregularly, for a branch: on x86-64 this is
// a conditional move, which compilers do not reliably choose themselves.
std::int64_t next_start(std::int64_t start, std::int64_t seen, std::int64_t position) noexcept {
#if defined(__x86_64__)
    asm("cmpq %[seen], %[start]\n\tcmovleq %[next], %[start]"
        : [start] "+r"(start)
        : [seen] "r"(seen), [next] "r"(position + 1)
        : "cc");
    return start;
#else
    return seen >= start ? position + 1 : start;
#endif
}

// Cuts b into collision blocks from the front: each ends at the first value
// that repeats one seen since the block began. A tail without a repeat
// does not count, so the blocks cover b[0 .. start).
void collisions(Symbols b, std::array<std::int64_t, 256>& last, StatisticSet wanted,
                StatisticValues& values) {
    if (!wanted[COLLISION_MEAN] && !wanted[COLLISION_MAX]) return;
    last.fill(-1);
    std::int64_t start = 0, longest = 0;
    std::uint64_t blocks = 0;
    for (std::size_t i = 0; i < b.size(); ++i) {
        const auto position = static_cast<std::int64_t>(i);
        const std::int64_t next = next_start(start, last[b[i]], position);
        last[b[i]] = position;
        const std::int64_t ended = next - start; // the block's length where one ends, else 0
        longest = ended > longest ? ended : longest;
        blocks += ended != 0;
        start = next;
    }
    values[COLLISION_MEAN] =
        blocks == 0 ? 0.0 : static_cast<double>(start) / static_cast<double>(blocks);
    values[COLLISION_MAX] = static_cast<double>(longest);
}

void periodicity(Symbols b, StatisticSet wanted, StatisticValues& values) {
    for (std::size_t l = 0; l < LAGS.size(); ++l)
        if (wanted[PERIODICITY + l])
            values[PERIODICITY + l] = static_cast<double>(count_matches(b, LAGS[l]));
}

void covariance(Symbols x, StatisticSet wanted, StatisticValues& values) {
    for (std::size_t l = 0; l < LAGS.size(); ++l)
        if (wanted[COVARIANCE + l])
            values[COVARIANCE + l] = static_cast<double>(sum_products(x, LAGS[l]));
}

bool identity_map(const PermutationData& data) {
    for (unsigned s = 0; s < data.alphabet; ++s)
        if (data.raw[s] != s) return false;
    return true;
}

} // namespace

double literal_median(Symbols literal, unsigned alphabet) {
    if (alphabet == 2) return 0.5;
    const std::size_t n = literal.size();
    if (n == 0) return 0;
    const ByteHistogram histogram = count_bytes(literal);
    // The symbol at sorted position `index`.
    auto at = [&](std::size_t index) {
        std::uint64_t before = 0;
        unsigned s = 0;
        while (before + histogram.counts[s] <= index)
            before += histogram.counts[s++];
        return static_cast<double>(s);
    };
    if (n % 2 == 1) return at(n / 2);
    return (at(n / 2 - 1) + at(n / 2)) / 2.0;
}

PermutationData PermutationData::of(Symbols literal, const std::array<std::uint8_t, 256>& raw,
                                    unsigned alphabet) {
    PermutationData data{.alphabet = alphabet, .raw = raw};
    std::uint64_t sum = 0;
    for (const std::uint8_t s : literal)
        sum += raw[s];
    data.mean =
        literal.empty() ? 0.0 : static_cast<double>(sum) / static_cast<double>(literal.size());
    data.below_median = static_cast<std::uint8_t>(std::ceil(literal_median(literal, alphabet)));
    return data;
}

StatisticsWorkspace::StatisticsWorkspace(const PermutationData& data, std::size_t n)
    : data_(data), words_((n + 63) / 64) {
    if (!identity_map(data)) raw_.resize(n);
    if (data.binary()) {
        ones_.resize((n + 7) / 8);
        bytes_.resize((n + 7) / 8);
    }
}

void StatisticsWorkspace::evaluate(Symbols symbols, StatisticSet wanted, StatisticValues& values,
                                   const StatisticValues* originals) {
    // Excursion reads raw values; so does covariance unless the data are binary.
    const bool covariance_wanted = (wanted & COVARIANCES).any();
    Symbols raw = symbols;
    if (!raw_.empty() && (wanted[EXCURSION] || (covariance_wanted && !data_.binary()))) {
        std::transform(symbols.begin(), symbols.end(), raw_.begin(),
                       [this](std::uint8_t s) { return data_.raw[s]; });
        raw = raw_;
    }
    if (wanted[EXCURSION])
        values[EXCURSION] = max_excursion(raw, data_.mean, originals ? (*originals)[EXCURSION] : 0);
    if (!data_.binary()) {
        directional(symbols, words_, wanted, values);
        median_runs(symbols, data_.below_median, words_, wanted, values);
        collisions(symbols, last_, wanted, values);
        periodicity(symbols, wanted, values);
        if (covariance_wanted) covariance(raw, wanted, values);
        return;
    }
    // Binary data: the median runs are those of the bits; the other
    // statistics see the bits in blocks of 8 (the last block padded with
    // zeros at the low end): the ones in a block, or the block read as a
    // byte, first bit most significant.
    median_runs(symbols, data_.below_median, words_, wanted, values);
    if ((wanted & ON_BLOCKS).none()) return;
    const std::size_t n = symbols.size();
    static_assert(std::endian::native == std::endian::little, "blocks are read as words");
    auto convert = [this](std::size_t block, std::uint64_t eight) { // bit j in byte j
        ones_[block] = static_cast<std::uint8_t>((eight * 0x0101010101010101u) >> 56);
        bytes_[block] = static_cast<std::uint8_t>((eight * 0x8040201008040201u) >> 56);
    };
    for (std::size_t block = 0; block < n / 8; ++block) {
        std::uint64_t eight;
        std::memcpy(&eight, symbols.data() + 8 * block, 8);
        convert(block, eight);
    }
    if (n % 8 != 0) {
        std::uint64_t eight = 0;
        std::memcpy(&eight, symbols.data() + n / 8 * 8, n % 8);
        convert(n / 8, eight);
    }
    directional(ones_, words_, wanted, values);
    collisions(bytes_, last_, wanted, values);
    periodicity(ones_, wanted, values);
    covariance(ones_, wanted, values);
}

} // namespace talvora::tools::sp800_90b
