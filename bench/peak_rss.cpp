// bench/peak_rss.cpp: runs a command and prints its peak resident memory.
//
// A child's peak counts the memory of the process it was started from (the
// kernel carries it through fork and exec), so a child of a large Python
// process would show at least that process's size. This small process
// starts the command itself and reports the command's own figure.
//
// Usage: bench_peak_rss COMMAND [ARGS...]; the command's output passes
// through, then "peak_rss_kib N" on stderr; the exit status is the
// command's (128 + signal when a signal ended it).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: bench_peak_rss COMMAND [ARGS...]\n", stderr);
        return 2;
    }
    const pid_t child = fork();
    if (child < 0) {
        std::perror("bench_peak_rss: fork");
        return 127;
    }
    if (child == 0) {
        execvp(argv[1], argv + 1);
        std::perror("bench_peak_rss: exec");
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) < 0) {
        std::perror("bench_peak_rss: wait4");
        return 127;
    }
    std::fprintf(stderr, "peak_rss_kib %ld\n", usage.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
