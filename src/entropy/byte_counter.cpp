// src/entropy/byte_counter.cpp: counting bytes into a ByteHistogram.
#include "entropy/entropy.h"

#include <algorithm>
#include <cstring>

namespace talvora {
namespace {

// With one table, increments of a few alternating hot counters wait on each
// other's stores (see SUB_TABLES_MIN_LEN). Four tables, fed in rotation, let
// four increments be in flight; the merge costs 1,024 additions per block.
// count_word and the merge are written out for exactly four.
constexpr std::size_t TABLES = 4;
// 32-bit counters keep the tables in 4 KiB of L1; a block never lets one of
// them reach 2^32.
constexpr std::size_t BLOCK_LEN = std::size_t{1} << 31;

inline std::uint64_t load_word(const std::uint8_t* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// Adds the eight bytes of a little-endian word, two per table.
inline void count_word(std::uint32_t (&tables)[TABLES][256], std::uint64_t word) {
    tables[0][word & 0xff]++;
    tables[1][(word >> 8) & 0xff]++;
    tables[2][(word >> 16) & 0xff]++;
    tables[3][(word >> 24) & 0xff]++;
    tables[0][(word >> 32) & 0xff]++;
    tables[1][(word >> 40) & 0xff]++;
    tables[2][(word >> 48) & 0xff]++;
    tables[3][word >> 56]++;
}

void count_block(const std::uint8_t* p, std::size_t n, ByteHistogram& histogram) {
    alignas(64) std::uint32_t tables[TABLES][256] = {};
    const std::uint8_t* const end = p + n;
    // 16 bytes a round; the next round's words are loaded before this
    // round's increments so the loads never wait on the stores.
    if (n >= 32) {
        std::uint64_t a = load_word(p);
        std::uint64_t b = load_word(p + 8);
        p += 16;
        while (end - p >= 16) {
            const std::uint64_t next_a = load_word(p);
            const std::uint64_t next_b = load_word(p + 8);
            count_word(tables, a);
            count_word(tables, b);
            a = next_a;
            b = next_b;
            p += 16;
        }
        count_word(tables, a);
        count_word(tables, b);
    }
    for (; p < end; ++p)
        tables[0][*p]++;
    for (std::size_t v = 0; v < 256; ++v)
        histogram.counts[v] +=
            std::uint64_t{tables[0][v]} + tables[1][v] + tables[2][v] + tables[3][v];
}

} // namespace

ByteHistogram count_bytes_sub_tables(ByteView bytes) {
    ByteHistogram histogram;
    for (std::size_t done = 0; done < bytes.size(); done += BLOCK_LEN) {
        const std::size_t len = std::min(BLOCK_LEN, bytes.size() - done);
        count_block(bytes.data() + done, len, histogram);
    }
    return histogram;
}

ByteHistogram count_bytes_sequential(ByteView bytes) {
    return bytes.size() >= SUB_TABLES_MIN_LEN ? count_bytes_sub_tables(bytes)
                                              : count_bytes_naive(bytes);
}

ByteHistogram count_bytes_naive(ByteView bytes) {
    ByteHistogram histogram;
    for (const std::uint8_t byte : bytes)
        histogram.counts[byte]++;
    return histogram;
}

ByteHistogram count_bytes(ByteView bytes) {
    return bytes.size() >= PARALLEL_MIN_LEN ? count_bytes_parallel(bytes)
                                            : count_bytes_sequential(bytes);
}

} // namespace talvora
