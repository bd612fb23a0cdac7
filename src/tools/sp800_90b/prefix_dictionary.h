// src/tools/sp800_90b/prefix_dictionary.h: the dictionary of one prefix
// length of the Markov-model and LZ78Y predictors: which prefixes of m
// symbols have been seen, how often each symbol followed each of them, and
// each prefix's most frequent follower (ties: the larger symbol).
//
// Short prefixes of small alphabets index flat tables directly; the rest go
// through open-addressing hash tables whose entries refer back to an
// occurrence of the prefix in the sequence.
#pragma once

#include "tools/sp800_90b/samples.h"

#include <cstdint>
#include <vector>

namespace talvora::tools::sp800_90b {

// The last symbols of a sequence, packed `width` bits each, newest lowest.
using PrefixKey = unsigned __int128;

// Bits per symbol in a PrefixKey of an alphabet of k symbols.
unsigned key_width(unsigned k);

class PrefixDictionary {
  public:
    static constexpr std::uint32_t NONE = 0xffff'ffffu;

    // Prefixes of length m over symbols < k in s.
    PrefixDictionary(Symbols s, unsigned m, unsigned k);

    // The prefix of length m ending just before position end (its key as
    // packed by the caller): its id, or NONE.
    std::uint32_t find(PrefixKey key, std::size_t end) const;
    // Adds that prefix (which must be new), without followers.
    std::uint32_t insert(PrefixKey key, std::size_t end);

    // How often symbol followed the prefix; 0 when never.
    std::uint32_t count(std::uint32_t prefix, std::uint8_t symbol) const;
    void increment(std::uint32_t prefix, std::uint8_t symbol);

    std::uint8_t best_symbol(std::uint32_t prefix) const { return best_symbol_[prefix]; }
    std::uint32_t best_count(std::uint32_t prefix) const { return best_count_[prefix]; }

  private:
    std::uint64_t slot_hash(PrefixKey key) const;
    void grow_prefixes();
    void grow_pairs();
    std::uint32_t* pair_slot(std::uint32_t key);
    const std::uint32_t* find_pair_slot(std::uint32_t key) const;

    Symbols s_;
    unsigned m_;
    unsigned k_;
    bool flat_;
    PrefixKey mask_;
    // Per prefix id.
    std::vector<std::uint8_t> best_symbol_;
    std::vector<std::uint32_t> best_count_;
    // Flat: counts[id * k + symbol], id = key.
    std::vector<std::uint32_t> counts_;
    // Hashed: prefix slots (tag, id + 1) and each id's occurrence end and
    // key; follower slots ((id << 8 | symbol) + 1, count).
    struct PrefixSlot {
        std::uint32_t tag;
        std::uint32_t id_plus_1;
    };
    std::vector<PrefixSlot> prefix_slots_;
    std::vector<std::uint32_t> prefix_end_;
    std::vector<std::uint32_t> pair_slots_; // key + 1, count interleaved
    std::size_t pairs_ = 0;
};

} // namespace talvora::tools::sp800_90b
