// src/tools/binding/part_state.h: a Counted as a few hundred bytes and back,
// for pickling: the counts and the boundary state, never the data. The
// layout is fixed (little-endian varints), so a state made on one machine
// loads on any other.
#pragma once

#include "tools/binding/histogram_state.h"

#include <optional>
#include <string>
#include <string_view>

namespace talvora::tools {

std::string encode_state(const Counted& counted);
// None for a state that is malformed or that no run of bytes could have
// produced (the counts not adding up to n, more points than groups...).
std::optional<Counted> decode_state(std::string_view state);

} // namespace talvora::tools
