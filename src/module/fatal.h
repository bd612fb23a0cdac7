// src/module/fatal.h: the abort path for failures that must never become
// Python exceptions. Free of Python so the worker pool can use it too.
#pragma once

#include <source_location>
#include <string_view>

namespace talvora {

// Writes a report naming the calling thread, the source location and the
// message to standard error, then aborts. A second fatal failure raised while
// the first is being reported on the same thread aborts at once.
[[noreturn]] void
fatal_failure(std::string_view message,
              std::source_location where = std::source_location::current()) noexcept;

// Worker threads have no name of their own; they say so in reports.
void mark_thread_unnamed() noexcept;

} // namespace talvora
