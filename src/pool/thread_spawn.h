// src/pool/thread_spawn.h: starting the pool's detached worker threads.
#pragma once

#include <functional>

namespace talvora {

using ThreadEntry = void* (*)(void*);

// Starts a thread running entry(argument); 0 on success, else the error
// number. The pool takes it as a parameter so tests can make it fail.
using SpawnThread = std::function<int(ThreadEntry entry, void* argument)>;

// A detached thread with a 2 MiB stack, or the C library's minimum when larger.
int spawn_detached_thread(ThreadEntry entry, void* argument) noexcept;

} // namespace talvora
