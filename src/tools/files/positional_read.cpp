// src/tools/files/positional_read.cpp: a file read with pread in windows of
// pieces spread over the pool; each piece is read and then counted by one
// worker, into that worker's own buffer, so one worker copies a piece while
// another counts the piece before, each piece still hot in its cache.
// Windows go in file order, which keeps the kernel's read-ahead sequential
// and lets a piece that comes up short end the read.
#include "tools/files/readers.h"

#include "pool/pool.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <memory>
#include <unistd.h>

namespace talvora::tools {
namespace {

constexpr std::size_t MAX_PIECE_LEN = std::size_t{1} << 20;
constexpr std::size_t MIN_PIECE_LEN = std::size_t{64} << 10;
// Pieces per worker in a window: enough that the wait for the window's
// last piece is short beside the window.
constexpr std::size_t PIECES_PER_WORKER = 32;

// The bytes of consecutive pieces read so far; a piece that came up short
// ends the run, and the pieces after it are dropped.
struct Run {
    StreamPart part;
    bool complete = true;
    int error = 0;
};

// One piece buffer for each worker of the pool and one for the calling
// thread: a worker reads and counts one piece at a time.
class PieceBuffers {
  public:
    PieceBuffers(WorkerPool& pool, std::size_t piece_len)
        : pool_(pool), piece_len_(piece_len),
          memory_(std::make_unique_for_overwrite<std::uint8_t[]>((pool.worker_count() + 1) *
                                                                 piece_len)) {}

    std::size_t piece_len() const { return piece_len_; }
    std::uint8_t* of_this_thread() const {
        const Worker* worker = current_worker();
        const std::size_t slot =
            worker != nullptr && &worker->pool() == &pool_ ? worker->index() : pool_.worker_count();
        return memory_.get() + slot * piece_len_;
    }

  private:
    WorkerPool& pool_;
    std::size_t piece_len_;
    std::unique_ptr<std::uint8_t[]> memory_;
};

Run read_piece(int fd, std::uint64_t position, std::size_t len, std::uint8_t* buffer) {
    Run run;
    std::size_t got = 0;
    while (got < len) {
        const ssize_t r = pread(fd, buffer + got, len - got, static_cast<off_t>(position + got));
        if (r > 0) {
            got += static_cast<std::size_t>(r);
        } else if (r == 0) {
            break;
        } else if (errno != EINTR) {
            run.error = errno;
            break;
        }
    }
    run.part = summarize({buffer, got});
    run.complete = got == len;
    return run;
}

struct Window {
    int fd;
    std::uint64_t position;
    std::size_t len;
    const PieceBuffers& buffers;

    std::size_t piece_count() const {
        return (len + buffers.piece_len() - 1) / buffers.piece_len();
    }
    Run read(WorkerPool& pool, std::size_t first, std::size_t end) const {
        if (end - first == 1) {
            const std::size_t start = first * buffers.piece_len();
            return read_piece(fd, position + start, std::min(buffers.piece_len(), len - start),
                              buffers.of_this_thread());
        }
        const std::size_t mid = first + (end - first) / 2;
        auto [left, right] = pool.join([&](bool) { return read(pool, first, mid); },
                                       [&](bool) { return read(pool, mid, end); });
        if (!left.complete) return left;
        append(left.part, right.part);
        left.complete = right.complete;
        left.error = right.error;
        return left;
    }
};

} // namespace

FileSummary summarize_positional(int fd, std::optional<std::uint64_t> size, const FileSpan& span,
                                 WorkerPool& pool, const StopCheck& stop) {
    // What the span held when the read began; the file may grow meanwhile,
    // and is read on to its end (or the span's).
    const std::uint64_t expected = !size || *size <= span.offset ? 0
                                   : span.length ? std::min(*span.length, *size - span.offset)
                                                 : *size - span.offset;
    const std::size_t slots = pool.worker_count() + 1;
    const PieceBuffers buffers(pool,
                               std::clamp(MAX_READ_MEMORY / slots / MIN_PIECE_LEN * MIN_PIECE_LEN,
                                          MIN_PIECE_LEN, MAX_PIECE_LEN));
    const std::size_t window_len = PIECES_PER_WORKER * pool.worker_count() * buffers.piece_len();

    FileSummary summary;
    StopPoll poll(stop);
    // No byte lies beyond the largest offset pread takes.
    constexpr std::uint64_t max_offset = std::numeric_limits<off_t>::max();
    if (span.offset >= max_offset) return summary;
    Remaining remaining(std::min(span.length.value_or(max_offset), max_offset - span.offset));
    std::uint64_t position = span.offset;
    while (!remaining.done()) {
        // Past the bytes expected (a file that grew, or one of unknown
        // size), a piece at a time until one comes up short.
        const std::uint64_t still_expected = expected - std::min(expected, summary.part.n);
        const Window window{fd, position,
                            remaining.at_most(static_cast<std::size_t>(std::clamp<std::uint64_t>(
                                still_expected, buffers.piece_len(), window_len))),
                            buffers};
        const Run run = window.read(pool, 0, window.piece_count());
        append(summary.part, run.part);
        if (!run.complete) {
            summary.error = run.error;
            break;
        }
        position += window.len;
        remaining.consume(window.len);
        if (poll.between_steps()) {
            summary.stopped = true;
            break;
        }
    }
    summary.truncated = summary.error == 0 && !summary.stopped && summary.part.n < expected;
    return summary;
}

} // namespace talvora::tools
