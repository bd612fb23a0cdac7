// src/tools/sp800_90b/permutation_test.cpp: shuffles in rounds on the
// worker pool, folded in permutation order.
//
// Every shuffle is a function of the seed and its number, and the counts
// take the shuffles' outcomes in number order, each statistic up to the
// shuffle that settles it. Rounds only decide how much is computed ahead;
// outcomes past a statistic's settling shuffle are dropped, so the result
// is the same for every number of workers and every round size.
#include "tools/sp800_90b/permutation_test.h"

#include "tools/sp800_90b/compression_statistic.h"
#include "tools/sp800_90b/parallel_for.h"
#include "tools/sp800_90b/permutation_shuffle.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <vector>

namespace talvora::tools::sp800_90b {

namespace {

// More than this many shuffles on each side of the original settle a
// statistic.
constexpr std::uint32_t SETTLING_COUNT = 5;

bool settled(const PermutationStatisticResult& s) noexcept {
    return s.greater + s.equal > SETTLING_COUNT && s.equal + s.less > SETTLING_COUNT;
}

// The fewest further shuffles that could settle s.
std::size_t still_needed(const PermutationStatisticResult& s) noexcept {
    const std::uint32_t target = SETTLING_COUNT + 1;
    const std::uint32_t at_least = std::min(target, s.greater + s.equal);
    const std::uint32_t at_most = std::min(target, s.equal + s.less);
    return target - std::min(at_least, at_most);
}

enum class Outcome : std::int8_t { less, equal, greater };

// One worker's scratch.
struct Workspace {
    Workspace(const PermutationData& data, std::size_t n) : shuffled(n), statistics(data, n) {}

    std::vector<std::uint8_t> shuffled;
    StatisticsWorkspace statistics;
    std::vector<char> text;       // compression only
    std::vector<char> compressed; // compression only
};

class PermutationTest {
  public:
    PermutationTest(Symbols literal, const PermutationData& data,
                    const PermutationTestOptions& options, WorkerPool& pool)
        : literal_(literal), options_(options), pool_(pool), text_(data.raw) {
        for (std::size_t w = 0; w < pool.worker_count(); ++w)
            workspaces_.push_back(std::make_unique<Workspace>(data, literal.size()));
        for (std::size_t i = 0; i < PERMUTATION_STATISTICS; ++i)
            result_.statistics[i].name = PERMUTATION_STATISTIC_NAMES[i];
        result_.seed = options.seed;
    }

    PermutationTestResult run() {
        StatisticSet cheap;
        cheap.set().reset(COMPRESSION_STATISTIC);
        StatisticValues original{};
        workspaces_[0]->statistics.evaluate(literal_, cheap, original);
        original[COMPRESSION_STATISTIC] = original_compression();
        for (std::size_t i = 0; i < PERMUTATION_STATISTICS; ++i)
            result_.statistics[i].original = original[i];
        original_ = original;

        const bool cheap_passed = shuffle_rounds(cheap, 8 * pool_.worker_count());
        result_.compression_needed = cheap_passed;
        if (cheap_passed) {
            for (const auto& w : workspaces_) {
                w->text.resize(text_.length(literal_) + 4);
                w->compressed.resize(BZIP2_SCRATCH);
            }
            StatisticSet compression;
            compression.set(COMPRESSION_STATISTIC);
            shuffle_rounds(compression, pool_.worker_count());
        }
        result_.passed = true;
        for (std::size_t i = 0; i < PERMUTATION_STATISTICS; ++i) {
            auto& s = result_.statistics[i];
            if (i != COMPRESSION_STATISTIC || cheap_passed) s.passed = settled(s);
            result_.passed = result_.passed && s.passed.value_or(false);
            result_.permutations =
                std::max<std::size_t>(result_.permutations, s.greater + s.equal + s.less);
        }
        return result_;
    }

  private:
    // The statistic of the samples as they are, their blocks compressed in
    // parallel.
    double original_compression() {
        std::vector<char> text(text_.length(literal_) + 4);
        const std::vector<std::string_view> blocks = bzip2_blocks(text_.write(literal_, text));
        std::vector<std::vector<char>> scratch(pool_.worker_count());
        for (auto& s : scratch)
            s.resize(BZIP2_SCRATCH);
        std::vector<std::optional<std::uint64_t>> bits(blocks.size());
        auto item = [&](std::size_t b, std::size_t worker) {
            bits[b] = bzip2_block_bits(blocks[b], scratch[worker]);
        };
        parallel_for(pool_, 0, blocks.size(), item);
        std::uint64_t total = 0;
        for (const auto& b : bits) {
            if (!b) throw std::bad_alloc();
            total += *b;
        }
        return static_cast<double>(bzip2_stream_length(total));
    }

    // The compression statistic of one shuffle, as far as its order against
    // the original's goes: blocks past a longer stream are not compressed.
    // (Data whose repeats bzip2 finds but no other statistic does compress
    // far better than their shuffles, and need all of them.)
    std::optional<double> compression(Workspace& w) const noexcept {
        const auto original =
            static_cast<std::uint64_t>(result_.statistics[COMPRESSION_STATISTIC].original);
        const auto length =
            bzip2_length_up_to(text_.write(w.shuffled, w.text), original, w.compressed);
        if (!length) return std::nullopt;
        return static_cast<double>(*length);
    }

    // Shuffles in rounds of at least round_size until every statistic in
    // candidates has settled or the shuffles run out; whether all settled.
    bool shuffle_rounds(StatisticSet candidates, std::size_t round_size) {
        StatisticSet active = candidates;
        std::size_t next = 0;
        std::vector<Outcome> outcomes;
        std::atomic<bool> out_of_memory{false};
        while (active.any() && next < options_.permutations) {
            std::size_t needed = 0;
            for (std::size_t i = 0; i < PERMUTATION_STATISTICS; ++i)
                if (active[i]) needed = std::max(needed, still_needed(result_.statistics[i]));
            const std::size_t round =
                std::min(std::max(needed, round_size), options_.permutations - next);
            outcomes.assign(round * PERMUTATION_STATISTICS, Outcome::equal);
            auto item = [&](std::size_t r, std::size_t worker) {
                Workspace& w = *workspaces_[worker];
                std::copy(literal_.begin(), literal_.end(), w.shuffled.begin());
                shuffle_permutation(options_.seed, next + r, w.shuffled);
                StatisticValues values{};
                w.statistics.evaluate(w.shuffled, active, values, &original_);
                if (active[COMPRESSION_STATISTIC]) {
                    const auto c = compression(w);
                    if (!c) out_of_memory.store(true, std::memory_order_relaxed);
                    values[COMPRESSION_STATISTIC] = c.value_or(0);
                }
                for (std::size_t i = 0; i < PERMUTATION_STATISTICS; ++i) {
                    const double original = result_.statistics[i].original;
                    outcomes[r * PERMUTATION_STATISTICS + i] =
                        values[i] > original    ? Outcome::greater
                        : values[i] == original ? Outcome::equal
                                                : Outcome::less;
                }
            };
            parallel_for(pool_, 0, round, item);
            if (out_of_memory.load(std::memory_order_relaxed)) throw std::bad_alloc();
            for (std::size_t r = 0; r < round; ++r)
                for (std::size_t i = 0; i < PERMUTATION_STATISTICS; ++i) {
                    if (!active[i]) continue;
                    auto& s = result_.statistics[i];
                    switch (outcomes[r * PERMUTATION_STATISTICS + i]) {
                    case Outcome::greater:
                        ++s.greater;
                        break;
                    case Outcome::equal:
                        ++s.equal;
                        break;
                    case Outcome::less:
                        ++s.less;
                        break;
                    }
                    if (settled(s)) active.reset(i);
                }
            next += round;
            if (options_.progress && !options_.progress(next)) throw PermutationTestStopped{};
        }
        return active.none();
    }

    Symbols literal_;
    const PermutationTestOptions& options_;
    WorkerPool& pool_;
    DecimalText text_;
    std::vector<std::unique_ptr<Workspace>> workspaces_;
    PermutationTestResult result_;
    StatisticValues original_{}; // the statistics of the samples as they are
};

} // namespace

PermutationTestResult permutation_test(Symbols literal, const PermutationData& data,
                                       const PermutationTestOptions& options, WorkerPool& pool) {
    return PermutationTest(literal, data, options, pool).run();
}

} // namespace talvora::tools::sp800_90b
