// src/pool/build_error.h: why no worker thread of a pool could be started.
#pragma once

#include <string>

namespace talvora {

struct ThreadPoolBuildError {
    int os_error = 0; // from starting a thread

    // ThreadPoolBuildError { kind: IOError(Os { code: 11, message: "..." }) }
    std::string debug_form() const;
};

} // namespace talvora
