// src/module/attach.h: the per-thread attach_count, the entry-point protocol,
// detached waits and the postponed release of references.
#pragma once

#include <Python.h>

#include <cstdint>

namespace talvora {

// How deeply this thread is nested inside the module while attached to the
// interpreter; 0 when it is not counted as attached. Negative values mark a
// thread on which entering the module is prohibited.
extern constinit thread_local std::int64_t attach_count;

// The entry-point protocol of every function and exec step: entering raises
// attach_count (aborting on a prohibited thread) and releases references
// queued while no thread was attached; leaving lowers it on every path.
class EntryScope {
  public:
    EntryScope() noexcept;
    ~EntryScope() { --attach_count; }
    EntryScope(const EntryScope&) = delete;
    EntryScope& operator=(const EntryScope&) = delete;
};

// What a detached thread needs to attach again.
struct Detachment {
    std::int64_t saved_count;
    PyThreadState* thread_state;
};

// Lets other threads run while this one waits: saves attach_count, sets it
// to 0 and releases the interpreter.
[[nodiscard]] Detachment detach() noexcept;
// Restores the saved count, takes the interpreter back and releases the
// references queued meanwhile.
void reattach(Detachment detachment) noexcept;

// A short attachment through the GIL-state API, counted like an entry.
class GilStateAttachment {
  public:
    GilStateAttachment() noexcept;
    ~GilStateAttachment();
    GilStateAttachment(const GilStateAttachment&) = delete;
    GilStateAttachment& operator=(const GilStateAttachment&) = delete;

  private:
    PyGILState_STATE state_;
};

// Queues a reference released on a thread that is not attached.
void postpone_release(PyObject* object) noexcept;

// Releases one strong reference: at once when this thread is attached, else
// queued until some thread next enters the module or re-attaches.
inline void release_reference(PyObject* object) noexcept {
    if (attach_count > 0)
        Py_DECREF(object);
    else
        postpone_release(object);
}
// Releases everything queued, in queue order.
void drain_pending_releases() noexcept;

// Around a fork: the forking thread holds the queue's lock across it, so
// the child never inherits it held by a thread that does not exist there.
void lock_pending_releases_before_fork() noexcept;
void unlock_pending_releases_after_fork() noexcept;

} // namespace talvora
