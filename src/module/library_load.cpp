// src/module/library_load.cpp: what runs when the dynamic loader loads the
// extension, before any init function.
#include <pthread.h>
#include <sodium.h>

#include "module/attach.h"
#include "module/messages.h"
#include "module/once_cell.h"

namespace talvora {
namespace {

void after_fork_in_child() {
    unlock_pending_releases_after_fork();
    InterpreterOnceCell::forget_runners_lost_in_fork();
}

__attribute__((constructor)) void library_load_init() {
    // 0: initialised now; 1: already initialised by someone else.
    if (sodium_init() < 0) fatal_failure(message(Message::SodiumFailed));
    // Fails only without memory for the handler; a child then keeps what it
    // inherited, as it would without this module.
    (void)pthread_atfork(lock_pending_releases_before_fork, unlock_pending_releases_after_fork,
                         after_fork_in_child);
}

} // namespace
} // namespace talvora
