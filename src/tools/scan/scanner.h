// src/tools/scan/scanner.h: the scan of a stream that arrives in successive
// blocks (a file larger than memory, a pipe, one chunk of a distributed
// scan). Any split of the same bytes into blocks gives the same windows.
#pragma once

#include "tools/scan/scan.h"
#include "tools/scan/window_terms.h"

#include <cstdint>
#include <limits>
#include <vector>

namespace talvora::tools {

// Which windows of a stream a scanner produces, in stream offsets.
struct ScanSpan {
    // Where window 0 starts; windows start at origin + k * step.
    std::uint64_t origin = 0;
    // The offset of the first byte fed, at least origin; windows that start
    // before it are another scanner's.
    std::uint64_t begin = 0;
    // Windows that start here or later are another scanner's.
    std::uint64_t starts_end = std::numeric_limits<std::uint64_t>::max();
};

class Scanner {
  public:
    // Throws std::invalid_argument for a window or step of 0, or a span
    // that begins before its origin.
    explicit Scanner(ScanShape shape, ScanSpan span = {}, ScanOptions options = {});

    // The next bytes of the stream, from position() on. A window is produced
    // once all its bytes are in; the bytes of windows still open are kept
    // (fewer than window of them).
    void feed(ByteView bytes, WorkerPool& pool);
    // The stream ends at position(): adds the last, shorter window if one is
    // due. Feeding after that is a std::logic_error.
    void finish(WorkerPool& pool);

    // The windows produced since the last take, in order.
    ScanColumns take();
    const ScanColumns& columns() const noexcept { return columns_; }

    // The stream offset of the next byte to feed.
    std::uint64_t position() const noexcept { return position_; }
    // The offset from which on no byte can change this scanner's windows
    // (the end of the last window it can produce).
    std::uint64_t needed_end() const noexcept;
    // Whether finish() has been called.
    bool finished() const noexcept { return finished_; }
    // Whether every window this scanner can produce is out.
    bool done() const noexcept { return finished_ || next_start_ >= span_.starts_end; }

  private:
    // Windows from next_start_ on whose bytes all lie below end.
    std::uint64_t complete_below(std::uint64_t end) const noexcept;
    void scan_run(const std::uint8_t* first, std::uint64_t count, const ScanOutput& out,
                  WorkerPool& pool) const;

    ScanShape shape_;
    ScanSpan span_;
    ScanOptions options_;
    WindowTerms terms_;
    std::uint64_t position_;
    // The start of the next window to produce; past position_ when the
    // windows leave gaps.
    std::uint64_t next_start_;
    // The stream's bytes [next_start_, position_), when that is not empty.
    std::vector<std::uint8_t> open_bytes_;
    bool finished_ = false;
    ScanColumns columns_;
};

} // namespace talvora::tools
