// src/tools/sp800_90b/prefix_sort.h: the LCP values of a sequence's
// suffixes in rank order, found by sorting suffixes on their first symbols
// only as deep as they need (radix buckets on packed 64-bit keys, deeper
// keys only for ties). On sequences without long repeats that is several
// times faster than a suffix array; it gives up where repeats are long.
#pragma once

#include "tools/sp800_90b/samples.h"

#include <cstdint>
#include <functional>
#include <span>

namespace talvora::tools::sp800_90b {

using LcpSink = std::function<void(std::span<const std::uint64_t>)>;

// Passes the LCP values in order to sink, in batches; false (after passing
// some of them) when repeats are too long for this method. Symbols < k.
bool stream_lcp_by_prefix_sort(Symbols s, unsigned k, const LcpSink& sink);

// The longest LCP value prefix sorting reports before it gives up.
std::uint64_t prefix_sort_max_lcp(unsigned k);

} // namespace talvora::tools::sp800_90b
