// src/pool/build_error.h: why a pool could not be built.
#pragma once

#include <string>

namespace talvora {

struct ThreadPoolBuildError {
    enum class Kind { IOError };
    Kind kind = Kind::IOError;
    int os_error = 0; // from starting a thread

    // Threads are not supported at all here (ENOSYS, EOPNOTSUPP).
    bool is_unsupported() const noexcept;
    // ThreadPoolBuildError { kind: IOError(Os { code: 11, message: "..." }) }
    std::string debug_form() const;
};

} // namespace talvora
