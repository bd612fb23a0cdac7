// src/tools/files/positional_read.cpp: a file read with pread in windows of
// pieces; within a window each piece is read and then counted by one worker
// of the pool, so one worker copies a piece while another counts the piece
// before, each piece still hot in its cache. Windows go in file order, which
// keeps the kernel's read-ahead sequential.
#include "tools/files/readers.h"

#include "pool/pool.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <memory>
#include <unistd.h>

namespace talvora::tools {
namespace {

constexpr std::size_t PIECE_LEN = std::size_t{1} << 20;
constexpr std::size_t MAX_PIECES = MAX_READ_MEMORY / PIECE_LEN;
// Pieces per worker in a window: enough that a slow piece does not leave
// the other workers idle at the window's end for long.
constexpr std::size_t PIECES_PER_WORKER = 4;

// The bytes of consecutive pieces read so far; a piece that came up short
// ends the run, and the pieces after it are dropped.
struct Run {
    StreamPart part;
    bool complete = true;
    int error = 0;
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
    std::uint8_t* buffer;

    std::size_t piece_count() const { return (len + PIECE_LEN - 1) / PIECE_LEN; }
    Run read(WorkerPool& pool, std::size_t first, std::size_t end) const {
        if (end - first == 1) {
            const std::size_t start = first * PIECE_LEN;
            return read_piece(fd, position + start, std::min(PIECE_LEN, len - start),
                              buffer + start);
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
    const std::size_t max_pieces =
        std::clamp<std::size_t>(PIECES_PER_WORKER * pool.worker_count(), 1, MAX_PIECES);
    // Sized for the bytes expected, so a small file costs a small buffer.
    const std::size_t buffer_len = static_cast<std::size_t>(
        std::clamp<std::uint64_t>(expected, PIECE_LEN, max_pieces * PIECE_LEN));
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(buffer_len);

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
                            remaining.at_most(static_cast<std::size_t>(
                                std::clamp<std::uint64_t>(still_expected, PIECE_LEN, buffer_len))),
                            buffer.get()};
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
