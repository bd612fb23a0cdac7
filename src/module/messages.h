// src/module/messages.h: the module's fixed messages, raised or reported, in
// one table; the texts built from names and numbers stay with their builders.
#pragma once

#include <array>
#include <cstddef>

namespace talvora {

enum class Message : unsigned char {
    // Raised.
    OutOfRange,
    StrIsNotAVec,
    NoExceptionSet,
    NotAnExceptionClass,
    NoSubinterpreters,
    UnionOfBytesOrStr,
    FieldOfVariant,
    ExceptionStrFailed,
    TypeNameUnknown,
    UnprintableObject,
    // Fatal.
    StateInvalid,
    NormalizingTwice,
    ReentrantNormalization,
    FinalizingElsewhere,
    ExceptionMissing,
    AttachDuringTraverse,
    AttachProhibited,
    PanicTypeFailed,
    AllNotAppended,
    NullFromConstructor,
    SodiumFailed,
    AllocationFailed,
    AllocationOverflow,
    Count,
};

inline constexpr std::array<const char*, static_cast<std::size_t>(Message::Count)> MESSAGES = {
    "out of range integral type conversion attempted",
    "Can't extract `str` to `Vec`",
    "attempted to fetch exception but none was set",
    "exceptions must derive from BaseException",
    "PyO3 modules do not yet support subinterpreters, see "
    "https://docs.python.org/3/c-api/init.html#sub-interpreter-support",
    "failed to extract enum BytesOrStr ('Str | Bytes')",
    "failed to extract field ",
    "<exception str() failed>",
    "<failed to extract type name>",
    "<unprintable object>",
    "PyErr state should never be invalid outside of normalization",
    "Cannot normalize a PyErr while already normalizing it.",
    "Re-entrant normalization of PyErrState detected",
    "Cannot attach to the Python interpreter while it is finalizing.",
    "exception missing after writing to the interpreter",
    "Attaching a thread to the interpreter is prohibited while a __traverse__ implementation is "
    "running.",
    "Attaching a thread to the interpreter is currently prohibited.",
    "Failed to initialize new exception type.",
    "could not append __name__ to __all__",
    "PyObject pointer is null",
    "Failed to initialize libsodium: libsodium initialization failed",
    "memory allocation failed",
    "memory allocation failed: size overflow",
};

constexpr const char* message(Message id) noexcept {
    return MESSAGES[static_cast<std::size_t>(id)];
}

} // namespace talvora
