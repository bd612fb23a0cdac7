// src/module/library_load.cpp: what runs when the dynamic loader loads the
// extension, before any init function.
#include <sodium.h>

#include "module/fatal.h"

namespace talvora {
namespace {

__attribute__((constructor)) void library_load_init() {
    // 0: initialised now; 1: already initialised by someone else.
    if (sodium_init() < 0)
        fatal_failure("Failed to initialize libsodium: libsodium initialization failed");
}

} // namespace
} // namespace talvora
