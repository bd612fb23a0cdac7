// src/pool/guarded.h: a value that is read and written only with its mutex
// held; every access shows the held lock, which debug builds check.
#pragma once

#include "pool/debug_assert.h"

#include <mutex>

namespace talvora {

template <class T> class Guarded {
  public:
    using Lock = std::unique_lock<std::mutex>;

    Lock lock() noexcept { return Lock(mutex_); }
    T& get(const Lock& held) noexcept {
        TALVORA_DEBUG_ASSERT(held.owns_lock() && held.mutex() == &mutex_);
        return value_;
    }

  private:
    std::mutex mutex_;
    T value_{};
};

} // namespace talvora
