// src/tools/scan/window_terms.h: the Shannon term and the min-entropy of a
// count in windows of one length, each worked out once and then looked up.
//
// A window's Shannon sum depends only on its counts and its length, so every
// full window of a scan draws its terms from one table. The tables fill on
// first use; the workers of a scan share them, and a value two of them work
// out at once is the same bits either way.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace talvora::tools {

// log2(p) * p for p = count / length, each operation rounded on its own: the
// term talvora's Shannon sum subtracts for a non-empty bin.
inline double shannon_term(std::uint64_t count, double length) {
    const double p = static_cast<double>(count) / length;
    return std::log2(p) * p;
}

// -log2(most / length): the min-entropy of a window whose top count is most.
inline double min_entropy_of(std::uint64_t most, double length) {
    return -std::log2(static_cast<double>(most) / length);
}

class WindowTerms {
  public:
    explicit WindowTerms(std::uint64_t length);

    std::uint64_t length() const noexcept { return length_; }

    // The term of a bin with this count; +0.0 for an empty bin, which leaves
    // the running sum exactly as skipping the bin would (-0.0 included).
    double shannon(std::uint64_t count) const noexcept {
        if (count >= cached_) return shannon_term(count, length_as_double_);
        return shannon_in_table(count);
    }

    // Whether every count up to length() has a table entry.
    bool table_complete() const noexcept { return cached_ > length_; }
    // shannon(count) for a count that has a table entry.
    double shannon_in_table(std::uint64_t count) const noexcept {
        const std::uint64_t stored = __atomic_load_n(&shannon_[count], __ATOMIC_RELAXED);
        if (stored != UNKNOWN) [[likely]]
            return std::bit_cast<double>(~stored);
        return remember(shannon_.get(), count, shannon_term(count, length_as_double_));
    }

    // The min-entropy of a window whose most frequent byte occurs most > 0 times.
    double min_entropy(std::uint64_t most) const noexcept {
        if (most >= cached_) return min_entropy_of(most, length_as_double_);
        const std::uint64_t stored = __atomic_load_n(&min_entropy_[most], __ATOMIC_RELAXED);
        if (stored != UNKNOWN) return std::bit_cast<double>(~stored);
        return remember(min_entropy_.get(), most, min_entropy_of(most, length_as_double_));
    }

  private:
    // Entries hold the complement of the value's bits, so that the zeroed
    // memory a fresh table starts from (untouched pages, for a large one)
    // reads as "not worked out yet": no finite double has all bits set.
    static constexpr std::uint64_t UNKNOWN = 0;
    // Above this many entries the values are worked out each time: a table
    // that large would cost more memory than a scan should take.
    static constexpr std::uint64_t MAX_CACHED = std::uint64_t{1} << 20;

    struct Free {
        void operator()(std::uint64_t* p) const noexcept { std::free(p); }
    };
    using Table = std::unique_ptr<std::uint64_t[], Free>;

    static Table zeroed_table(std::uint64_t entries);
    static double remember(std::uint64_t* table, std::uint64_t count, double value) noexcept {
        __atomic_store_n(&table[count], ~std::bit_cast<std::uint64_t>(value), __ATOMIC_RELAXED);
        return value;
    }

    std::uint64_t length_;
    double length_as_double_;
    std::uint64_t cached_; // counts below this have table entries
    Table shannon_;
    Table min_entropy_;
};

} // namespace talvora::tools
