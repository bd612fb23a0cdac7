// src/tools/files/file_summary.h: the part of an open file's bytes, read in
// bounded memory whatever the file's size, and never mapped, so a file cut
// short meanwhile costs only the bytes that are gone.
#pragma once

#include "tools/stream/stream_part.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace talvora::tools {

// Which bytes of an open file to read. A file that can be read at any
// position (a regular file, a block device) is read from offset on; any
// other (a pipe, a terminal, a character device) is read as a stream from
// where it stands, its first offset bytes skipped.
struct FileSpan {
    std::uint64_t offset = 0;
    // At most this many bytes; none: to the end.
    std::optional<std::uint64_t> length;
};

// Asked from the reading thread between large steps of a long read, and
// whenever a read is interrupted by a signal: true stops the read.
using StopCheck = std::function<bool()>;

struct FileSummary {
    // The bytes read, a prefix of the span.
    StreamPart part;
    // A file of known size ended before the span's bytes that existed when
    // the read began had all been read: it was cut short meanwhile.
    bool truncated = false;
    // The stop check asked to stop.
    bool stopped = false;
    // The errno of a failed call, or 0; part then holds the bytes before it.
    int error = 0;
};

// Reads the span of fd (which the caller keeps open) and summarises it on
// pool, reading the next blocks while the current ones are counted. Extra
// memory stays under MAX_READ_MEMORY. Never touches Python.
FileSummary summarize_file(int fd, const FileSpan& span, WorkerPool& pool, const StopCheck& stop);

inline constexpr std::size_t MAX_READ_MEMORY = std::size_t{64} << 20;

} // namespace talvora::tools
