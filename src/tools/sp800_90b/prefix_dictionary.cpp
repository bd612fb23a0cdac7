// src/tools/sp800_90b/prefix_dictionary.cpp: flat and hashed prefix tables.
#include "tools/sp800_90b/prefix_dictionary.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace talvora::tools::sp800_90b {

namespace {

// Flat tables up to this many counters (4 MiB).
constexpr std::size_t FLAT_MAX_COUNTERS = std::size_t{1} << 20;
constexpr std::size_t MIN_SLOTS = 64;

std::uint64_t mix(std::uint64_t x) {
    x ^= x >> 31;
    x *= 0xbf58476d1ce4e5b9u;
    x ^= x >> 29;
    x *= 0x94d049bb133111ebu;
    return x ^ (x >> 32);
}

// Whether used slots exceed 3/4 of capacity.
bool crowded(std::size_t used, std::size_t capacity) {
    return used * 4 >= capacity * 3;
}

} // namespace

unsigned key_width(unsigned k) {
    return std::max(1u, static_cast<unsigned>(std::bit_width(k - 1)));
}

PrefixDictionary::PrefixDictionary(Symbols s, unsigned m, unsigned k) : s_(s), m_(m), k_(k) {
    const unsigned key_bits = key_width(k) * m;
    mask_ = key_bits >= 128 ? ~PrefixKey{0} : (PrefixKey{1} << key_bits) - 1;
    flat_ = key_bits <= 20 && (std::size_t{1} << key_bits) * k <= FLAT_MAX_COUNTERS;
    if (flat_) {
        const std::size_t prefixes = std::size_t{1} << key_bits;
        best_symbol_.assign(prefixes, 0);
        best_count_.assign(prefixes, 0);
        counts_.assign(prefixes * k, 0);
    } else {
        prefix_slots_.assign(MIN_SLOTS, PrefixSlot{0, 0});
        pair_slots_.assign(2 * MIN_SLOTS, 0);
    }
}

std::uint64_t PrefixDictionary::slot_hash(PrefixKey key) const {
    key &= mask_;
    return mix(static_cast<std::uint64_t>(key) ^ mix(static_cast<std::uint64_t>(key >> 64) + m_));
}

std::uint32_t PrefixDictionary::find(PrefixKey key, std::size_t end) const {
    if (flat_) {
        const auto id = static_cast<std::uint32_t>(key & mask_);
        return best_count_[id] != 0 ? id : NONE;
    }
    const std::uint64_t hash = slot_hash(key);
    const auto tag = static_cast<std::uint32_t>(hash >> 32);
    const std::size_t mask = prefix_slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const PrefixSlot& slot = prefix_slots_[i];
        if (slot.id_plus_1 == 0) return NONE;
        if (slot.tag != tag) continue;
        const std::uint32_t id = slot.id_plus_1 - 1;
        if (std::memcmp(s_.data() + prefix_end_[id] - m_, s_.data() + end - m_, m_) == 0) return id;
    }
}

std::uint32_t PrefixDictionary::insert(PrefixKey key, std::size_t end) {
    if (flat_) return static_cast<std::uint32_t>(key & mask_);
    const auto id = static_cast<std::uint32_t>(prefix_end_.size());
    prefix_end_.push_back(static_cast<std::uint32_t>(end));
    best_symbol_.push_back(0);
    best_count_.push_back(0);
    if (crowded(prefix_end_.size(), prefix_slots_.size())) grow_prefixes();
    const std::uint64_t hash = slot_hash(key);
    const std::size_t mask = prefix_slots_.size() - 1;
    std::size_t i = hash & mask;
    while (prefix_slots_[i].id_plus_1 != 0)
        i = (i + 1) & mask;
    prefix_slots_[i] = {static_cast<std::uint32_t>(hash >> 32), id + 1};
    return id;
}

void PrefixDictionary::grow_prefixes() {
    // Keys are rebuilt from each prefix's occurrence.
    std::vector<PrefixSlot> slots(prefix_slots_.size() * 2, PrefixSlot{0, 0});
    const std::size_t mask = slots.size() - 1;
    const unsigned width = key_width(k_);
    for (const PrefixSlot& old : prefix_slots_) {
        if (old.id_plus_1 == 0) continue;
        const std::size_t end = prefix_end_[old.id_plus_1 - 1];
        PrefixKey key = 0;
        for (std::size_t p = end - m_; p < end; ++p)
            key = (key << width) | s_[p];
        std::size_t i = slot_hash(key) & mask;
        while (slots[i].id_plus_1 != 0)
            i = (i + 1) & mask;
        slots[i] = old;
    }
    prefix_slots_ = std::move(slots);
}

const std::uint32_t* PrefixDictionary::find_pair_slot(std::uint32_t key) const {
    const std::size_t mask = pair_slots_.size() / 2 - 1;
    for (std::size_t i = mix(key) & mask;; i = (i + 1) & mask) {
        const std::uint32_t* slot = &pair_slots_[2 * i];
        if (slot[0] == key + 1 || slot[0] == 0) return slot;
    }
}

std::uint32_t* PrefixDictionary::pair_slot(std::uint32_t key) {
    return const_cast<std::uint32_t*>(find_pair_slot(key));
}

void PrefixDictionary::grow_pairs() {
    std::vector<std::uint32_t> old(pair_slots_.size() * 2, 0);
    old.swap(pair_slots_);
    for (std::size_t i = 0; i < old.size(); i += 2)
        if (old[i] != 0) {
            std::uint32_t* slot = pair_slot(old[i] - 1);
            slot[0] = old[i];
            slot[1] = old[i + 1];
        }
}

std::uint32_t PrefixDictionary::count(std::uint32_t prefix, std::uint8_t symbol) const {
    if (flat_) return counts_[std::size_t{prefix} * k_ + symbol];
    return find_pair_slot(prefix << 8 | symbol)[1];
}

void PrefixDictionary::increment(std::uint32_t prefix, std::uint8_t symbol) {
    std::uint32_t now;
    if (flat_) {
        now = ++counts_[std::size_t{prefix} * k_ + symbol];
    } else {
        const std::uint32_t key = prefix << 8 | symbol;
        std::uint32_t* slot = pair_slot(key);
        if (slot[0] == 0) {
            if (crowded(++pairs_, pair_slots_.size() / 2)) {
                grow_pairs();
                slot = pair_slot(key);
            }
            slot[0] = key + 1;
        }
        now = ++slot[1];
    }
    // Counts grow one at a time, so the leader changes only to the symbol
    // just counted.
    if (now > best_count_[prefix] ||
        (now == best_count_[prefix] && symbol > best_symbol_[prefix])) {
        best_count_[prefix] = now;
        best_symbol_[prefix] = symbol;
    }
}

} // namespace talvora::tools::sp800_90b
