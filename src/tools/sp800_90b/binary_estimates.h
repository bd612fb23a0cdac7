// src/tools/sp800_90b/binary_estimates.h: the three estimates defined for
// binary sequences only: collision, Markov and compression.
#pragma once

#include "tools/sp800_90b/estimate.h"
#include "tools/sp800_90b/samples.h"

namespace talvora::tools::sp800_90b {

// Each takes a sequence of 0s and 1s of length >= 2. Collision gives no
// value on fewer than two collisions (sequences of a few bits).
Estimate collision_estimate(Symbols bits);
Estimate markov_estimate(Symbols bits);
// No value unless the sequence holds more than COMPRESSION_INIT_BLOCKS
// blocks of COMPRESSION_BLOCK_BITS bits.
Estimate compression_estimate(Symbols bits);

inline constexpr std::size_t COMPRESSION_BLOCK_BITS = 6;
inline constexpr std::size_t COMPRESSION_INIT_BLOCKS = 1000;

} // namespace talvora::tools::sp800_90b
