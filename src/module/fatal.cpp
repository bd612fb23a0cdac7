// src/module/fatal.cpp: the fatal report and abort.
#include "module/fatal.h"

#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace talvora {
namespace {

thread_local bool reporting = false;
thread_local bool unnamed = false;

// The thread's name as the report shows it: "main" for the process's first
// thread, the name given to it (Python names its threads), else "<unnamed>".
void thread_name(char (&name)[32]) noexcept {
    if (!unnamed && syscall(SYS_gettid) == getpid()) {
        std::snprintf(name, sizeof name, "main");
        return;
    }
    char given[16] = {};
    if (unnamed || pthread_getname_np(pthread_self(), given, sizeof given) != 0 || !given[0])
        std::snprintf(name, sizeof name, "<unnamed>");
    else
        std::snprintf(name, sizeof name, "%s", given);
}

} // namespace

void mark_thread_unnamed() noexcept {
    unnamed = true;
}

void fatal_failure(std::string_view message, std::source_location where) noexcept {
    if (reporting) std::abort();
    reporting = true;
    char name[32];
    thread_name(name);
    std::fprintf(stderr, "\nthread '%s' hit a fatal failure at %s:%u:%u (%s):\n%.*s\n", name,
                 where.file_name(), static_cast<unsigned>(where.line()),
                 static_cast<unsigned>(where.column()), where.function_name(),
                 static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
    std::abort();
}

} // namespace talvora
