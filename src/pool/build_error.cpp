// src/pool/build_error.cpp: the build error's text.
#include "pool/build_error.h"

#include <cstring>

namespace talvora {

std::string ThreadPoolBuildError::debug_form() const {
    char buffer[128];
    const char* message = strerror_r(os_error, buffer, sizeof buffer);
    return "ThreadPoolBuildError { kind: IOError(Os { code: " + std::to_string(os_error) +
           ", message: \"" + message + "\" }) }";
}

} // namespace talvora
