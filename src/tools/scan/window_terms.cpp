// src/tools/scan/window_terms.cpp: the lazily filled term tables.
#include "tools/scan/window_terms.h"

#include <algorithm>
#include <new>

namespace talvora::tools {

WindowTerms::WindowTerms(std::uint64_t length)
    : length_(length), length_as_double_(static_cast<double>(length)),
      cached_(std::min(length + 1, MAX_CACHED)), shannon_(zeroed_table(cached_)),
      min_entropy_(zeroed_table(cached_)) {}

WindowTerms::Table WindowTerms::zeroed_table(std::uint64_t entries) {
    // calloc: a large table's pages are only touched where counts land.
    auto* table = static_cast<std::uint64_t*>(std::calloc(entries, sizeof(std::uint64_t)));
    if (table == nullptr) throw std::bad_alloc();
    // The empty bin's term is +0.0, not log2(0) * 0.
    table[0] = ~std::bit_cast<std::uint64_t>(0.0);
    return Table(table);
}

} // namespace talvora::tools
