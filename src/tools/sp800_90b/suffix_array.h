// src/tools/sp800_90b/suffix_array.h: the suffix array of a symbol sequence
// (SA-IS, linear time, working space within the array itself apart from the
// bucket and type tables) and its LCP array.
#pragma once

#include "tools/sp800_90b/samples.h"

#include <cstdint>
#include <vector>

namespace talvora::tools::sp800_90b {

// The start positions of the suffixes of s in lexicographic order (a proper
// prefix sorts first). s.size() <= MAX_SEQUENCE_LEN; symbols < alphabet.
std::vector<std::uint32_t> suffix_array(Symbols s, unsigned alphabet);

// Turns the suffix array of s into its LCP array, in place: entry i becomes
// the length of the longest common prefix of the suffixes at ranks i - 1
// and i (0 for i = 0).
void suffix_array_to_lcp(Symbols s, std::vector<std::uint32_t>& sa);

} // namespace talvora::tools::sp800_90b
