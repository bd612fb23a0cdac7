// src/module/byte_buffer.cpp: heap and mapped storage of a ByteBuffer.
#include "module/byte_buffer.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

#include "module/fatal.h"
#include "pool/pool.h"

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

// A copy this long is bound by the faults of its fresh pages, not by memcpy:
// the workers take halves of it at once. The source cannot change meanwhile,
// since the caller stays attached to the interpreter while it waits.
constexpr std::size_t PARALLEL_COPY_MIN_LEN = std::size_t{8} << 20;

void copy_bytes(std::uint8_t* to, const std::uint8_t* from, std::size_t size) noexcept {
    if (size < PARALLEL_COPY_MIN_LEN) {
        std::memcpy(to, from, size);
        return;
    }
    const std::size_t half = size / 2 & ~(HUGE_PAGE - 1);
    global_pool().join(
        [&](bool) {
            copy_bytes(to, from, half);
            return true;
        },
        [&](bool) {
            copy_bytes(to + half, from + half, size - half);
            return true;
        });
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
    if (size != 0) copy_bytes(buffer.data_, static_cast<const std::uint8_t*>(bytes), size);
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
