// src/tools/sp800_90b/prefix_dictionary.cpp: direct and hashed prefix
// tables, flat and hashed follower counts.
#include "tools/sp800_90b/prefix_dictionary.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace talvora::tools::sp800_90b {

namespace {

// Direct prefix tables up to 2^16 prefixes (1 MiB); flat follower tables up
// to 2^20 counters (4 MiB).
constexpr unsigned DIRECT_MAX_BITS = 16;
constexpr std::size_t FLAT_MAX_COUNTERS = std::size_t{1} << 20;
constexpr std::size_t MIN_SLOTS = 64;
// The bitmap of seen hashes: 2^16 bits.
constexpr unsigned SEEN_BITS = 16;

std::uint64_t mix(std::uint64_t x) {
    x ^= x >> 31;
    x *= 0xbf58476d1ce4e5b9u;
    x ^= x >> 29;
    x *= 0x94d049bb133111ebu;
    return x ^ (x >> 32);
}

// Whether used slots reach 3/4 of capacity.
bool crowded(std::size_t used, std::size_t capacity) {
    return used * 4 >= capacity * 3;
}

std::size_t seen_bit(std::uint32_t hash) {
    return hash >> (32 - SEEN_BITS);
}

} // namespace

unsigned key_width(unsigned k) {
    return std::max(1u, static_cast<unsigned>(std::bit_width(k - 1)));
}

PrefixKey prefix_key(Symbols s, std::size_t end, unsigned m, unsigned width) {
    PrefixKey key = 0;
    for (std::size_t p = end - m; p < end; ++p)
        key = (key << width) | s[p];
    return key;
}

PrefixDictionary::PrefixDictionary(Symbols s, unsigned m, unsigned k) : s_(s), m_(m), k_(k) {
    const unsigned key_bits = key_width(k) * m;
    mask_ = key_bits >= 128 ? ~PrefixKey{0} : (PrefixKey{1} << key_bits) - 1;
    direct_ = key_bits <= DIRECT_MAX_BITS;
    flat_followers_ = direct_ && (std::size_t{1} << key_bits) * k <= FLAT_MAX_COUNTERS;
    if (direct_) {
        prefixes_.resize(std::size_t{1} << key_bits);
    } else {
        prefixes_.resize(MIN_SLOTS);
        seen_.assign((std::size_t{1} << SEEN_BITS) / 64, 0);
    }
    if (flat_followers_)
        counts_.assign(prefixes_.size() * k, 0);
    else
        followers_.resize(MIN_SLOTS);
}

std::uint64_t PrefixDictionary::hash_of(PrefixKey key) const {
    key &= mask_;
    return mix(static_cast<std::uint64_t>(key) ^ mix(static_cast<std::uint64_t>(key >> 64) + m_));
}

void PrefixDictionary::prefetch(PrefixKey key) const {
    const std::size_t slot = direct_ ? static_cast<std::size_t>(key & mask_)
                                     : (hash_of(key) >> 32) & (prefixes_.size() - 1);
    __builtin_prefetch(&prefixes_[slot]);
}

Prefix* PrefixDictionary::find(PrefixKey key, std::size_t end) {
    if (direct_) {
        Prefix& prefix = prefixes_[static_cast<std::size_t>(key & mask_)];
        return prefix.id != 0 ? &prefix : nullptr;
    }
    const auto hash = static_cast<std::uint32_t>(hash_of(key) >> 32);
    if (((seen_[seen_bit(hash) / 64] >> (seen_bit(hash) % 64)) & 1u) == 0) return nullptr;
    const std::size_t mask = prefixes_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        Prefix& slot = prefixes_[i];
        if (slot.id == 0) return nullptr;
        if (slot.hash == hash &&
            std::memcmp(s_.data() + slot.id - 1 - m_, s_.data() + end - m_, m_) == 0)
            return &slot;
    }
}

Prefix* PrefixDictionary::insert(PrefixKey key, std::size_t end) {
    if (direct_) {
        const auto index = static_cast<std::size_t>(key & mask_);
        prefixes_[index].id = static_cast<std::uint32_t>(index + 1);
        return &prefixes_[index];
    }
    if (crowded(++used_prefixes_, prefixes_.size())) grow_prefixes();
    const auto hash = static_cast<std::uint32_t>(hash_of(key) >> 32);
    seen_[seen_bit(hash) / 64] |= std::uint64_t{1} << (seen_bit(hash) % 64);
    const std::size_t mask = prefixes_.size() - 1;
    std::size_t i = hash & mask;
    while (prefixes_[i].id != 0)
        i = (i + 1) & mask;
    prefixes_[i] = {hash, static_cast<std::uint32_t>(end + 1), 0, 0, 0, 0};
    return &prefixes_[i];
}

void PrefixDictionary::grow_prefixes() {
    std::vector<Prefix> old(prefixes_.size() * 2);
    old.swap(prefixes_);
    const std::size_t mask = prefixes_.size() - 1;
    for (const Prefix& prefix : old) {
        if (prefix.id == 0) continue;
        std::size_t i = prefix.hash & mask;
        while (prefixes_[i].id != 0)
            i = (i + 1) & mask;
        prefixes_[i] = prefix;
    }
}

std::size_t PrefixDictionary::follower_slot(std::uint32_t prefix_id, std::uint32_t symbol) const {
    const std::size_t mask = followers_.size() - 1;
    for (std::size_t i = mix(std::uint64_t{prefix_id} << 8 | symbol) & mask;; i = (i + 1) & mask) {
        const Follower& slot = followers_[i];
        if (slot.prefix_id == 0 || (slot.prefix_id == prefix_id && slot.symbol == symbol)) return i;
    }
}

void PrefixDictionary::grow_followers() {
    std::vector<Follower> old(followers_.size() * 2);
    old.swap(followers_);
    for (const Follower& follower : old)
        if (follower.prefix_id != 0)
            followers_[follower_slot(follower.prefix_id, follower.symbol)] = follower;
}

bool PrefixDictionary::count(Prefix& prefix, std::uint8_t symbol, bool create) {
    std::uint32_t* counter;
    if (flat_followers_) {
        counter = &counts_[std::size_t{prefix.id - 1} * k_ + symbol];
    } else if (prefix.first_count == 0 || prefix.first_symbol == symbol) {
        prefix.first_symbol = symbol;
        counter = &prefix.first_count;
    } else {
        std::size_t slot = follower_slot(prefix.id, symbol);
        if (followers_[slot].prefix_id == 0) {
            if (!create) return false;
            if (crowded(++used_followers_, followers_.size())) {
                grow_followers();
                slot = follower_slot(prefix.id, symbol);
            }
            followers_[slot] = {prefix.id, 0, symbol};
        }
        counter = &followers_[slot].count;
    }
    if (*counter == 0 && !create) return false;
    const bool created = *counter == 0;
    const std::uint32_t now = ++*counter;
    // Counts grow one at a time, so the leader changes only to the symbol
    // just counted.
    if (now > prefix.best_count || (now == prefix.best_count && symbol > prefix.best_symbol)) {
        prefix.best_count = now;
        prefix.best_symbol = symbol;
    }
    return created;
}

} // namespace talvora::tools::sp800_90b
