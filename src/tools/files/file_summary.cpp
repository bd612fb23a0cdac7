// src/tools/files/file_summary.cpp: choosing how to read an open file from
// what fstat says of it.
#include "tools/files/readers.h"

#include <cerrno>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

namespace talvora::tools {

FileSummary summarize_file(int fd, const FileSpan& span, WorkerPool& pool, const StopCheck& stop) {
    struct stat info{};
    if (fstat(fd, &info) != 0) {
        FileSummary failed;
        failed.error = errno;
        return failed;
    }
    if (S_ISDIR(info.st_mode)) {
        FileSummary failed;
        failed.error = EISDIR;
        return failed;
    }
    if (S_ISREG(info.st_mode))
        return summarize_positional(fd, static_cast<std::uint64_t>(info.st_size), span, pool, stop);
    if (S_ISBLK(info.st_mode)) {
        std::uint64_t size = 0;
        const bool known = ioctl(fd, BLKGETSIZE64, &size) == 0;
        return summarize_positional(fd, known ? std::optional(size) : std::nullopt, span, pool,
                                    stop);
    }
    return summarize_stream(fd, span, pool, stop);
}

} // namespace talvora::tools
