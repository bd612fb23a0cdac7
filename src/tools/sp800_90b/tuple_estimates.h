// src/tools/sp800_90b/tuple_estimates.h: the t-tuple and the longest
// repeated substring (LRS) estimates, both from one suffix and LCP array.
#pragma once

#include "tools/sp800_90b/estimate.h"
#include "tools/sp800_90b/samples.h"

namespace talvora::tools::sp800_90b {

struct TupleEstimates {
    Estimate t_tuple;
    Estimate lrs;
};

// Any alphabet of symbols < alphabet; s must not be empty.
TupleEstimates tuple_estimates(Symbols s, unsigned alphabet);

// A tuple length qualifies for the t-tuple estimate while some tuple of
// that length occurs this often.
inline constexpr std::uint64_t TUPLE_MIN_COUNT = 35;

} // namespace talvora::tools::sp800_90b
