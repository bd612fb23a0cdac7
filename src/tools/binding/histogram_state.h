// src/tools/binding/histogram_state.h: what a Python Histogram holds: the
// part of every byte added so far, behind a lock of its own, so updates from
// many threads at once add up and a report sees one consistent state.
#pragma once

#include "tools/stream/stream_part.h"

#include <mutex>

namespace talvora::tools {

// A part and whether a file read into it was cut short meanwhile.
struct Counted {
    StreamPart part;
    bool truncated = false;

    friend bool operator==(const Counted&, const Counted&) = default;
};

class HistogramState {
  public:
    HistogramState() = default;
    explicit HistogramState(const Counted& counted) : counted_(counted) {}

    Counted snapshot() const {
        std::lock_guard lock(mutex_);
        return counted_;
    }

    // Adds more bytes after the ones held; false, changing nothing, when the
    // byte count would pass 2^64 - 1.
    bool append(const Counted& more) {
        std::lock_guard lock(mutex_);
        if (append_overflows(counted_.part, more.part)) return false;
        tools::append(counted_.part, more.part);
        counted_.truncated = counted_.truncated || more.truncated;
        return true;
    }

    void replace(const Counted& counted) {
        std::lock_guard lock(mutex_);
        counted_ = counted;
    }

  private:
    // Never held while waiting for anything else (the interpreter lock
    // included), so no two locks are ever taken in some order.
    mutable std::mutex mutex_;
    Counted counted_;
};

} // namespace talvora::tools
