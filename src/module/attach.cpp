// src/module/attach.cpp: attach_count, detaching and the PendingReleasePool.
#include "module/attach.h"

#include <atomic>
#include <cassert>
#include <mutex>
#include <utility>
#include <vector>

#include "module/fatal.h"
#include "module/messages.h"
#include "module/owned.h"

namespace talvora {

constinit thread_local std::int64_t attach_count = 0;

namespace {

// References whose release fell on a thread that was not attached. The pool
// is constant-initialised; `created` is set by the first queued reference, so
// until then a drain costs a single load.
struct PendingReleasePool {
    std::atomic<bool> created{false};
    std::mutex mutex;
    std::vector<PyObject*, FatalAllocator<PyObject*>> pending;
};

constinit PendingReleasePool pending_release_pool;

} // namespace

EntryScope::EntryScope() noexcept {
    if (attach_count < 0) [[unlikely]] {
        if (attach_count == -1) fatal_failure(message(Message::AttachDuringTraverse));
        fatal_failure(message(Message::AttachProhibited));
    }
    ++attach_count;
    drain_pending_releases();
}

Detachment detach() noexcept {
    const std::int64_t saved = attach_count;
    attach_count = 0;
    return {saved, PyEval_SaveThread()};
}

void reattach(Detachment detachment) noexcept {
    attach_count = detachment.saved_count;
    PyEval_RestoreThread(detachment.thread_state);
    drain_pending_releases();
}

GilStateAttachment::GilStateAttachment() noexcept : state_(PyGILState_Ensure()) {
    ++attach_count;
}

GilStateAttachment::~GilStateAttachment() {
    PyGILState_Release(state_);
    --attach_count;
}

void postpone_release(PyObject* object) noexcept {
    PendingReleasePool& pool = pending_release_pool;
    std::lock_guard lock(pool.mutex);
    if (pool.pending.size() == pool.pending.capacity())
        pool.pending.reserve(pool.pending.empty() ? 4 : 2 * pool.pending.capacity());
    pool.pending.push_back(object);
    // Pairs with the acquire load in drain_pending_releases.
    pool.created.store(true, std::memory_order_release);
}

void drain_pending_releases() noexcept {
    PendingReleasePool& pool = pending_release_pool;
    if (!pool.created.load(std::memory_order_acquire)) return;
    std::vector<PyObject*, FatalAllocator<PyObject*>> taken;
    {
        std::lock_guard lock(pool.mutex);
        if (pool.pending.empty()) return;
        taken.swap(pool.pending);
    }
    // Outside the lock: a release may run finalisers that queue more.
    assert(PyGILState_Check());
    for (PyObject* object : taken)
        Py_DECREF(object);
}

void lock_pending_releases_before_fork() noexcept {
    pending_release_pool.mutex.lock();
}

void unlock_pending_releases_after_fork() noexcept {
    pending_release_pool.mutex.unlock();
}

} // namespace talvora
