// src/entropy/entropy.h: the byte histogram and the four entropy measures.
//
// Every measure is a bit-exact function of the input: the order of every
// floating-point operation is fixed (and the build forbids contraction into
// fused multiply-adds), and the sign of a zero result is part of the result.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace talvora {

using ByteView = std::span<const std::uint8_t>;

// 256 counts indexed by byte value; a plain value kept in its filler's frame.
struct ByteHistogram {
    std::array<std::uint64_t, 256> counts{};

    friend bool operator==(const ByteHistogram&, const ByteHistogram&) = default;
    ByteHistogram& operator+=(const ByteHistogram& other) {
        for (std::size_t b = 0; b < counts.size(); ++b)
            counts[b] += other.counts[b];
        return *this;
    }
};

// From this length on, counting runs on the worker pool.
inline constexpr std::size_t PARALLEL_MIN_LEN = 262'144;
// The parallel counter cuts its input into chunks of this many bytes.
inline constexpr std::size_t CHUNK_LEN = 65'536;

// Below this length one table beats the sub-tables: zeroing and merging
// them costs more than they save. The machines measured forward repeated
// increments of one counter well, but not of a few alternating ones, so
// skewed input needs the sub-tables from a few KiB on.
inline constexpr std::size_t SUB_TABLES_MIN_LEN = 2048;

// The fast single-threaded counter, sub-tables from SUB_TABLES_MIN_LEN on;
// correct for every length.
ByteHistogram count_bytes_sequential(ByteView bytes);
// The sub-table kernel alone, for any length.
ByteHistogram count_bytes_sub_tables(ByteView bytes);
// One table, one increment per byte: the oracle and benchmark baseline.
ByteHistogram count_bytes_naive(ByteView bytes);
// Counts on the worker pool; callers guarantee bytes.size() >= PARALLEL_MIN_LEN.
ByteHistogram count_bytes_parallel(ByteView bytes);
// Sequential below PARALLEL_MIN_LEN, parallel from it on; same counts either way.
ByteHistogram count_bytes(ByteView bytes);

// The histogram_* forms take the histogram of n bytes, any n >= 0; the
// ByteView forms count first. Only histogram_entropy requires n >= 1.

// The Shannon sum over a histogram of n >= 1 bytes, in ascending byte order.
double histogram_entropy(const ByteHistogram& histogram, std::uint64_t n);
// Shannon entropy in bits per byte of a non-empty buffer.
double shannon_entropy(ByteView bytes);
// Shannon entropy over 8 bits; +0.0 for an empty buffer.
double metric_entropy(ByteView bytes);
double histogram_metric_entropy(const ByteHistogram& histogram, std::uint64_t n);
// -log2 of the relative frequency of the most frequent byte; +0.0 when empty.
double min_entropy(ByteView bytes);
double histogram_min_entropy(const ByteHistogram& histogram, std::uint64_t n);

inline constexpr std::size_t EXPECTED_TABLE_LEN = 1000;
// Mean Shannon entropy of n uniformly random bytes, for n < EXPECTED_TABLE_LEN.
extern const std::array<double, EXPECTED_TABLE_LEN> ExpectedEntropyTable;

// The entropy random data of length n >= 2 is expected to have.
double reference_entropy(std::uint64_t n);
// Shannon entropy over reference_entropy, capped at 1.0.
double normalized_metric_entropy(ByteView bytes);
double histogram_normalized_metric_entropy(const ByteHistogram& histogram, std::uint64_t n);

} // namespace talvora
