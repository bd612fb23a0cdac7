// src/tools/sp800_90b/mcv.h: the most common value estimate: the bound on
// the frequency of the most common symbol.
#pragma once

#include "tools/sp800_90b/estimate.h"
#include "tools/sp800_90b/samples.h"

namespace talvora::tools::sp800_90b {

// Any alphabet; symbols must not be empty.
Estimate most_common_value(Symbols symbols);

} // namespace talvora::tools::sp800_90b
