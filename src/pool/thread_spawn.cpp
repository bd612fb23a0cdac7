// src/pool/thread_spawn.cpp: detached threads with a 2 MiB stack.
#include "pool/thread_spawn.h"

#include <algorithm>
#include <cerrno>
#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

namespace talvora {
namespace {

constexpr std::size_t DEFAULT_STACK = std::size_t{2} << 20;
constexpr std::size_t FALLBACK_MIN_STACK = 16'384;

// glibc's own minimum (it grows with the static TLS of loaded libraries); it
// is private to glibc, hence looked up at run time and optional.
std::size_t min_stack_size(const pthread_attr_t* attr) noexcept {
    using GetMinstack = std::size_t (*)(const pthread_attr_t*);
    static const auto get_minstack =
        reinterpret_cast<GetMinstack>(dlsym(RTLD_DEFAULT, "__pthread_get_minstack"));
    return get_minstack ? get_minstack(attr) : FALLBACK_MIN_STACK;
}

std::size_t stack_size_for(const pthread_attr_t* attr) noexcept {
    return std::max(DEFAULT_STACK, min_stack_size(attr));
}

} // namespace

int spawn_detached_thread(ThreadEntry entry, void* argument) noexcept {
    pthread_attr_t attr;
    if (const int error = pthread_attr_init(&attr)) return error;
    std::size_t stack = stack_size_for(&attr);
    int error = pthread_attr_setstacksize(&attr, stack);
    if (error == EINVAL) {
        // Some systems want whole pages.
        const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        stack = (stack + page - 1) / page * page;
        error = pthread_attr_setstacksize(&attr, stack);
    }
    pthread_t thread;
    if (error == 0) error = pthread_create(&thread, &attr, entry, argument);
    pthread_attr_destroy(&attr);
    if (error == 0) pthread_detach(thread);
    return error;
}

} // namespace talvora
