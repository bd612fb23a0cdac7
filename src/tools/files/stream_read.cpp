// src/tools/files/stream_read.cpp: a pipe, terminal or character device,
// read with read() in blocks by the calling thread while a helper thread has
// the block before counted on the pool. Reading never happens on a worker of
// the pool: a pipe may block for as long as its writer likes, and the pool's
// workers serve every other count in the process.
#include "tools/files/readers.h"

#include "tools/files/background_task.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <unistd.h>

namespace talvora::tools {
namespace {

constexpr std::size_t BLOCK_LEN = std::size_t{8} << 20;
constexpr std::size_t MIN_BLOCK_LEN = std::size_t{64} << 10;

struct Fill {
    std::size_t len = 0;
    bool end = false; // end of the stream, an error or a stop
};

// Reads until want bytes, the end of the stream, an error or a stop.
Fill fill(int fd, std::uint8_t* buffer, std::size_t want, FileSummary& summary, StopPoll& poll) {
    Fill result;
    while (result.len < want) {
        const ssize_t r = read(fd, buffer + result.len, want - result.len);
        if (r > 0) {
            result.len += static_cast<std::size_t>(r);
            continue;
        }
        if (r < 0 && errno == EINTR) {
            if (!poll.after_signal()) continue;
            summary.stopped = true;
        } else if (r < 0) {
            summary.error = errno;
        }
        result.end = true;
        break;
    }
    return result;
}

} // namespace

FileSummary summarize_stream(int fd, const FileSpan& span, WorkerPool& pool,
                             const StopCheck& stop) {
    FileSummary summary;
    StopPoll poll(stop);
    if (span.length == std::uint64_t{0}) return summary;
    const std::size_t block_len = static_cast<std::size_t>(
        std::clamp<std::uint64_t>(span.length.value_or(BLOCK_LEN), MIN_BLOCK_LEN, BLOCK_LEN));
    // Two blocks: one filling, one being counted.
    const auto buffers = std::make_unique_for_overwrite<std::uint8_t[]>(2 * block_len);
    std::uint8_t* filling = buffers.get();
    std::uint8_t* counting = filling + block_len;

    for (Remaining skip(span.offset); !skip.done();) {
        const Fill skipped = fill(fd, filling, skip.at_most(block_len), summary, poll);
        if (skipped.end) return summary;
        skip.consume(skipped.len);
    }

    StreamPart counted;
    BackgroundTask counter;
    for (Remaining remaining(span.length); !remaining.done();) {
        const Fill filled = fill(fd, filling, remaining.at_most(block_len), summary, poll);
        remaining.consume(filled.len);
        counter.wait();
        std::swap(filling, counting);
        const ByteView block{counting, filled.len};
        counter.start(
            [&counted, &pool, block] { append(counted, summarize_parallel(block, pool)); });
        if (filled.end) break;
        if (poll.between_steps()) {
            summary.stopped = true;
            break;
        }
    }
    counter.wait();
    summary.part = counted;
    return summary;
}

} // namespace talvora::tools
