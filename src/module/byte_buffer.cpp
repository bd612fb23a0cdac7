// src/module/byte_buffer.cpp: heap and mapped storage of a ByteBuffer.
#include "module/byte_buffer.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace talvora {
namespace {

constexpr std::size_t HUGE_PAGE = std::size_t{2} << 20;

// Huge pages are a hint: without them the mapping still works.
void advise_huge_pages(void* start, std::size_t length) noexcept {
    (void)madvise(start, length, MADV_HUGEPAGE);
}

} // namespace

bool ByteBuffer::reallocate(std::size_t capacity) noexcept {
    if (capacity < MAPPED_MIN_CAPACITY) {
        // Only a heap block grows into another heap block.
        void* grown = std::realloc(data_, capacity);
        if (grown == nullptr) [[unlikely]]
            return false;
        data_ = static_cast<std::uint8_t*>(grown);
        capacity_ = capacity;
        return true;
    }
    if (capacity > SIZE_MAX - HUGE_PAGE) [[unlikely]]
        return false;
    const std::size_t length = (capacity + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    void* start;
    if (is_mapped()) {
        // Moves page tables rather than bytes, so doubling stays cheap.
        start = mremap(data_, capacity_, length, MREMAP_MAYMOVE);
        if (start == MAP_FAILED) [[unlikely]]
            return false;
    } else {
        start = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (start == MAP_FAILED) [[unlikely]]
            return false;
        if (size_ != 0) std::memcpy(start, data_, size_);
        std::free(data_);
    }
    advise_huge_pages(start, length);
    data_ = static_cast<std::uint8_t*>(start);
    capacity_ = length;
    return true;
}

void ByteBuffer::release() noexcept {
    if (is_mapped())
        munmap(data_, capacity_);
    else
        std::free(data_);
    data_ = nullptr;
    size_ = 0;
    capacity_ = 0;
}

} // namespace talvora
