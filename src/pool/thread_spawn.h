// src/pool/thread_spawn.h: starting the pool's detached worker threads.
#pragma once

#include <cstddef>
#include <functional>

namespace talvora {

using ThreadEntry = void* (*)(void*);

// Starts a thread running entry(argument); 0 on success, else the error
// number. The pool takes it as a parameter so tests can make it fail.
using SpawnThread = std::function<int(ThreadEntry entry, void* argument)>;

// The stack a worker gets: 2 MiB, or the C library's minimum when larger.
std::size_t worker_stack_size() noexcept;

// A detached thread with worker_stack_size() bytes of stack.
int spawn_detached_thread(ThreadEntry entry, void* argument) noexcept;

} // namespace talvora
