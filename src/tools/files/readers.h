// src/tools/files/readers.h: the two ways summarize_file reads a file: at
// positions, in pieces spread over the pool, or as a stream, one block read
// while the one before is counted.
#pragma once

#include "tools/files/file_summary.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace talvora::tools {

// A regular file or block device of size bytes when the read began (none
// where the system does not tell, as for many files under /proc).
FileSummary summarize_positional(int fd, std::optional<std::uint64_t> size, const FileSpan& span,
                                 WorkerPool& pool, const StopCheck& stop);

FileSummary summarize_stream(int fd, const FileSpan& span, WorkerPool& pool, const StopCheck& stop);

// How much of a read is left.
class Remaining {
  public:
    explicit Remaining(std::optional<std::uint64_t> length) : length_(length) {}
    bool done() const { return length_ == std::uint64_t{0}; }
    // min(limit, what is left).
    std::size_t at_most(std::size_t limit) const {
        return length_ && *length_ < limit ? static_cast<std::size_t>(*length_) : limit;
    }
    void consume(std::uint64_t bytes) {
        if (length_) *length_ -= bytes;
    }

  private:
    std::optional<std::uint64_t> length_;
};

// Puts the stop check to a long read: at most every STOP_INTERVAL between
// steps, and at once after a signal broke into a system call.
class StopPoll {
  public:
    static constexpr std::chrono::milliseconds STOP_INTERVAL{100};

    explicit StopPoll(const StopCheck& stop) : stop_(stop) {}
    bool between_steps() {
        const auto now = std::chrono::steady_clock::now();
        if (now < next_) return false;
        next_ = now + STOP_INTERVAL;
        return after_signal();
    }
    bool after_signal() const { return stop_ && stop_(); }

  private:
    const StopCheck& stop_;
    std::chrono::steady_clock::time_point next_ = std::chrono::steady_clock::now() + STOP_INTERVAL;
};

} // namespace talvora::tools
