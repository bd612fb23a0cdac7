// tests/cpp/tools/file_summary_test.cpp: files read at positions and as
// streams give the part of exactly the bytes of their span; errors, a file
// cut short and a stop are reported, never hidden.
#include "tools/files/background_task.h"
#include "tools/files/file_summary.h"

#include "pool/pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <pthread.h>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace talvora::tools {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t MIB = std::size_t{1} << 20;

Bytes random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes bytes(n);
    for (std::uint8_t& b : bytes)
        b = static_cast<std::uint8_t>(rng() >> 24);
    return bytes;
}

// A file in the temporary directory, removed at the end.
class TempFile {
  public:
    TempFile() {
        std::string name = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
        name += "/file_summary_test.XXXXXX";
        fd_ = mkstemp(name.data());
        path_ = name;
    }
    ~TempFile() {
        close(fd_);
        unlink(path_.c_str());
    }
    void write(const Bytes& bytes) const {
        for (std::size_t done = 0; done < bytes.size();)
            done +=
                static_cast<std::size_t>(::write(fd_, bytes.data() + done, bytes.size() - done));
    }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }

  private:
    int fd_;
    std::string path_;
};

StreamPart part_of(const Bytes& bytes, std::uint64_t offset, std::optional<std::uint64_t> length) {
    const std::uint64_t start = std::min<std::uint64_t>(offset, bytes.size());
    const std::uint64_t end =
        length ? std::min<std::uint64_t>(bytes.size(), start + *length) : bytes.size();
    return summarize(ByteView(bytes).subspan(start, end - start));
}

TEST(FileSummary, SpansOfARegularFileOnPoolsOfEverySize) {
    const Bytes bytes = random_bytes(9 * MIB + 12'345, 1);
    TempFile file;
    file.write(bytes);
    const std::vector<std::pair<std::uint64_t, std::optional<std::uint64_t>>> spans = {
        {0, std::nullopt},
        {1, std::nullopt},
        {MIB - 1, 2},
        {MIB, 5 * MIB + 3},
        {7, 0},
        {bytes.size() - 2, 10},
        {bytes.size() + 1, 5},
        {~std::uint64_t{0}, 1}};
    for (const std::size_t workers : {1, 3}) {
        WorkerPool pool(workers);
        for (const auto& [offset, length] : spans) {
            const FileSummary summary = summarize_file(file.fd(), {offset, length}, pool, nullptr);
            EXPECT_EQ(summary.part, part_of(bytes, offset, length)) << offset;
            EXPECT_FALSE(summary.truncated || summary.stopped);
            EXPECT_EQ(summary.error, 0);
        }
    }
}

TEST(FileSummary, APipeIsReadAsAStreamWithItsOffsetSkipped) {
    // The writer finds the reader gone when it stops early: EPIPE, not a kill.
    void (*previous)(int) = std::signal(SIGPIPE, SIG_IGN);
    const Bytes bytes = random_bytes(20 * MIB + 3, 2);
    for (const auto& [offset, length] :
         std::vector<std::pair<std::uint64_t, std::optional<std::uint64_t>>>{
             {0, std::nullopt}, {9 * MIB + 1, 9 * MIB}, {bytes.size() + 5, std::nullopt}}) {
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        std::thread writer([&, write_end = ends[1]] {
            for (std::size_t done = 0; done < bytes.size();) {
                const ssize_t r = write(write_end, bytes.data() + done, bytes.size() - done);
                if (r <= 0) break; // the reader left early
                done += static_cast<std::size_t>(r);
            }
            close(write_end);
        });
        const FileSummary summary =
            summarize_file(ends[0], {offset, length}, global_pool(), nullptr);
        close(ends[0]);
        writer.join();
        EXPECT_EQ(summary.part, part_of(bytes, offset, length));
        EXPECT_EQ(summary.error, 0);
    }
    std::signal(SIGPIPE, previous);
}

TEST(FileSummary, ErrorsAreReported) {
    const int directory = open("/", O_RDONLY | O_DIRECTORY);
    EXPECT_EQ(summarize_file(directory, {}, global_pool(), nullptr).error, EISDIR);
    close(directory);
    EXPECT_EQ(summarize_file(-1, {}, global_pool(), nullptr).error, EBADF);
    const int write_only = open("/dev/null", O_WRONLY);
    EXPECT_EQ(summarize_file(write_only, {}, global_pool(), nullptr).error, EBADF);
    close(write_only);
}

TEST(FileSummary, AFileCutShortGivesTheBytesReadAndSaysSo) {
    TempFile file;
    const Bytes head = random_bytes(MIB, 3);
    file.write(head);
    constexpr std::uint64_t size = std::uint64_t{64} << 30; // sparse
    ASSERT_EQ(ftruncate(file.fd(), static_cast<off_t>(size)), 0);
    // Cut the file to nothing at the first question between steps.
    const StopCheck cut = [&] { return ftruncate(file.fd(), 0) != 0; };
    const FileSummary summary = summarize_file(file.fd(), {}, global_pool(), cut);
    EXPECT_TRUE(summary.truncated);
    EXPECT_FALSE(summary.stopped);
    ASSERT_GT(summary.part.n, head.size());
    ASSERT_LT(summary.part.n, size);
    // The head, then zeros up to where the reading stood.
    const StreamPart expected = summarize(head);
    EXPECT_EQ(summary.part.counts.counts[0],
              expected.counts.counts[0] + (summary.part.n - head.size()));
    for (unsigned v = 1; v < 256; ++v)
        EXPECT_EQ(summary.part.counts.counts[v], expected.counts.counts[v]);
}

extern "C" void ignore_signal(int) {}

TEST(FileSummary, ASignalDuringABlockedReadAsksTheStopCheck) {
    struct sigaction action{};
    action.sa_handler = ignore_signal; // no SA_RESTART: read() returns EINTR
    struct sigaction previous{};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::atomic<int> asked{0};
    const pthread_t reader = pthread_self();
    std::thread interrupter([&] {
        while (asked.load() == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            pthread_kill(reader, SIGUSR1);
        }
    });
    const FileSummary summary =
        summarize_file(ends[0], {}, global_pool(), [&] { return asked.fetch_add(1) >= 0; });
    interrupter.join();
    EXPECT_TRUE(summary.stopped);
    EXPECT_EQ(summary.part.n, 0u);
    close(ends[0]);
    close(ends[1]);
    sigaction(SIGUSR1, &previous, nullptr);
}

TEST(BackgroundTask, RunsEachTaskBeforeWaitReturns) {
    BackgroundTask task;
    std::vector<int> done;
    for (int i = 0; i < 50; ++i) {
        task.wait();
        task.start([&done, i] { done.push_back(i); });
    }
    task.wait();
    ASSERT_EQ(done.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(done[i], i);
}

} // namespace
} // namespace talvora::tools
