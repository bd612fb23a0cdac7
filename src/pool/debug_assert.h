// src/pool/debug_assert.h: preconditions that debug builds check.
#pragma once

#include "module/fatal.h"

// Debug builds (no NDEBUG) evaluate condition and, when it is false, fail
// fatally naming it and the place; release builds do not evaluate it.
#ifdef NDEBUG
#define TALVORA_DEBUG_ASSERT(condition) static_cast<void>(sizeof((condition) ? 1 : 0))
#else
#define TALVORA_DEBUG_ASSERT(condition)                                                            \
    ((condition) ? static_cast<void>(0)                                                            \
                 : ::talvora::fatal_failure("debug assertion failed: " #condition))
#endif
