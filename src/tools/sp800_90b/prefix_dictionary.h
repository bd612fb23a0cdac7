// src/tools/sp800_90b/prefix_dictionary.h: the dictionary of one prefix
// length of the Markov-model and LZ78Y predictors: which prefixes of m
// symbols have been seen, how often each symbol followed each of them, and
// each prefix's most frequent follower (ties: the larger symbol).
//
// Prefixes of up to 16 bits index a table directly, and so do their
// followers when the alphabet is small. Longer prefixes go through an
// open-addressing hash table: a prefix is known by the end of its first
// occurrence in the sequence, and a bitmap of hashes turns most lookups of
// unknown prefixes away before they touch the table. Followers of large
// alphabets are hashed by (prefix, symbol), except each prefix's first,
// which on varied data is most often its only one.
#pragma once

#include "tools/sp800_90b/samples.h"

#include <cstdint>
#include <vector>

namespace talvora::tools::sp800_90b {

// The last symbols of a sequence, packed `width` bits each, newest lowest.
using PrefixKey = unsigned __int128;

// Bits per symbol in a PrefixKey of an alphabet of k symbols.
unsigned key_width(unsigned k);

// The m symbols before position end, as a PrefixKey.
PrefixKey prefix_key(Symbols s, std::size_t end, unsigned m, unsigned width);

struct Prefix {
    std::uint32_t hash = 0;
    std::uint32_t id = 0; // 0 while absent; else unique in its dictionary
    std::uint32_t best_count = 0;
    std::uint32_t first_count = 0; // of its first follower, kept here
    std::uint8_t best_symbol = 0;
    std::uint8_t first_symbol = 0;
};

class PrefixDictionary {
  public:
    // Prefixes of length m over symbols < k in s.
    PrefixDictionary(Symbols s, unsigned m, unsigned k);

    // Starts loading the slot a find of key will look at first, so that
    // the cache misses of the sixteen orders a Markov-model step looks up
    // overlap.
    void prefetch(PrefixKey key) const;
    // The prefix of length m ending just before position end (its key as
    // packed by the caller), or nullptr. Valid until the next insert.
    Prefix* find(PrefixKey key, std::size_t end);
    // Adds that prefix (which must be new), without followers.
    Prefix* insert(PrefixKey key, std::size_t end);

    // Counts one more symbol after the prefix if it has followed it before
    // or `create` allows a new pair; true when the pair is new.
    bool count(Prefix& prefix, std::uint8_t symbol, bool create = true);

  private:
    struct Follower {
        std::uint32_t prefix_id = 0; // 0 in an empty slot
        std::uint32_t count = 0;
        std::uint32_t symbol = 0;
    };

    std::uint64_t hash_of(PrefixKey key) const;
    std::size_t follower_slot(std::uint32_t prefix_id, std::uint32_t symbol) const;
    void grow_prefixes();
    void grow_followers();

    Symbols s_;
    unsigned m_;
    unsigned k_;
    PrefixKey mask_;
    bool direct_;         // prefixes_ indexed by key
    bool flat_followers_; // counts_[key * k + symbol]
    // Hashed prefixes: ids are their first occurrence's end + 1.
    std::vector<Prefix> prefixes_;
    std::size_t used_prefixes_ = 0;
    std::vector<std::uint64_t> seen_; // bitmap over hash bits of inserted prefixes
    std::vector<std::uint32_t> counts_;
    std::vector<Follower> followers_;
    std::size_t used_followers_ = 0;
};

} // namespace talvora::tools::sp800_90b
