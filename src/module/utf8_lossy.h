// src/module/utf8_lossy.h: decoding bytes as UTF-8 with replacement.
#pragma once

#include <string_view>

#include "module/owned.h"

namespace talvora {

// `bytes` as valid UTF-8: each maximal subpart of an ill-formed sequence
// becomes one U+FFFD, as the Unicode standard recommends. A surrogate
// encoded with "surrogatepass" (ED A0..BF xx) gives three U+FFFD.
Text utf8_lossy(std::string_view bytes) noexcept;

} // namespace talvora
