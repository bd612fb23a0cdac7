// src/module/byte_buffer.cpp: heap and mapped storage of a ByteBuffer.
#include "module/byte_buffer.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

#include "module/fatal.h"

namespace talvora {
namespace {

constexpr std::size_t HUGE_PAGE = std::size_t{2} << 20;

std::size_t round_up_to_huge_page(std::size_t size) noexcept {
    if (size > SIZE_MAX - HUGE_PAGE) fatal_failure("memory allocation failed: size overflow");
    return (size + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
}

// Huge pages are a hint: without them the mapping still works.
void advise_huge_pages(void* start, std::size_t length) noexcept {
    (void)madvise(start, length, MADV_HUGEPAGE);
}

std::uint8_t* map_bytes(std::size_t length) noexcept {
    void* start = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (start == MAP_FAILED) fatal_failure("memory allocation failed");
    advise_huge_pages(start, length);
    return static_cast<std::uint8_t*>(start);
}

} // namespace

ByteBuffer ByteBuffer::copy_of(const void* bytes, std::size_t size) noexcept {
    ByteBuffer buffer;
    buffer.reserve(size);
    if (size != 0) std::memcpy(buffer.data_, bytes, size);
    buffer.size_ = size;
    return buffer;
}

void ByteBuffer::reallocate(std::size_t capacity) noexcept {
    if (capacity < MAPPED_MIN_CAPACITY) {
        // Only a heap block grows into another heap block.
        void* grown = std::realloc(data_, capacity);
        if (grown == nullptr) fatal_failure("memory allocation failed");
        data_ = static_cast<std::uint8_t*>(grown);
        capacity_ = capacity;
        return;
    }
    const std::size_t length = round_up_to_huge_page(capacity);
    if (is_mapped()) {
        // Moves page tables rather than bytes, so doubling stays cheap.
        void* moved = mremap(data_, capacity_, length, MREMAP_MAYMOVE);
        if (moved == MAP_FAILED) fatal_failure("memory allocation failed");
        advise_huge_pages(moved, length);
        data_ = static_cast<std::uint8_t*>(moved);
    } else {
        std::uint8_t* mapped = map_bytes(length);
        if (size_ != 0) std::memcpy(mapped, data_, size_);
        std::free(data_);
        data_ = mapped;
    }
    capacity_ = length;
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
