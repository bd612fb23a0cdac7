// src/module/owned.h: containers whose allocation failure is fatal rather than
// a C++ exception, so that nothing can unwind through an entry point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "module/fatal.h"
#include "module/messages.h"

namespace talvora {

template <class T> struct FatalAllocator {
    using value_type = T;

    FatalAllocator() = default;
    template <class U> FatalAllocator(const FatalAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) noexcept {
        if (n > SIZE_MAX / sizeof(T)) [[unlikely]]
            fatal_failure(message(Message::AllocationOverflow));
        void* memory = std::malloc(n * sizeof(T));
        if (memory == nullptr) [[unlikely]]
            fatal_failure(message(Message::AllocationFailed));
        return static_cast<T*>(memory);
    }
    void deallocate(T* memory, std::size_t) noexcept { std::free(memory); }

    friend bool operator==(const FatalAllocator&, const FatalAllocator&) = default;
};

// Owned UTF-8 text: messages, notes, descriptions.
using Text = std::basic_string<char, std::char_traits<char>, FatalAllocator<char>>;

} // namespace talvora
