// src/module/byte_buffer.h: ByteBuffer, the growable owned copy of an input
// that is not held as bytes (a sequence of ints).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "entropy/entropy.h"

namespace talvora {

// Buffers below MAPPED_MIN_CAPACITY live on the heap, where glibc recycles a
// freed block of up to 32 MiB (its mmap threshold rises to the largest block
// freed), so a loop of calls copies into warm memory. From there on a buffer
// is its own mapping advised for huge pages: malloc would hand out fresh
// kernel pages every time, and on a virtual machine every fresh 4 KiB page
// costs a fault that dwarfs copying it. A buffer that cannot grow says so
// and keeps what it holds; its owner raises MemoryError.
class ByteBuffer {
  public:
    static constexpr std::size_t MAPPED_MIN_CAPACITY = std::size_t{32} << 20;

    ByteBuffer() = default;
    ByteBuffer(ByteBuffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    ByteBuffer& operator=(ByteBuffer&& other) noexcept {
        ByteBuffer old(std::move(*this));
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        return *this;
    }
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;
    ~ByteBuffer() { release(); }

    // Makes room for at least `capacity` bytes in all; false when there is
    // no memory for them.
    [[nodiscard]] bool reserve(std::size_t capacity) noexcept {
        return capacity <= capacity_ || reallocate(capacity);
    }
    [[nodiscard]] bool push_back(std::uint8_t byte) noexcept {
        if (size_ == capacity_ && !reallocate(capacity_ < 64 ? 64 : 2 * capacity_)) [[unlikely]]
            return false;
        data_[size_++] = byte;
        return true;
    }

    // Room for `count` more bytes at tail(), growing as push_back does;
    // false when there is no memory for them. appended() then counts the
    // bytes written there.
    [[nodiscard]] bool make_room(std::size_t count) noexcept {
        return capacity_ - size_ >= count || reallocate(std::max(size_ + count, 2 * capacity_));
    }
    std::uint8_t* tail() noexcept { return data_ + size_; }
    void appended(std::size_t count) noexcept { size_ += count; }

    const std::uint8_t* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    bool is_mapped() const noexcept { return capacity_ >= MAPPED_MIN_CAPACITY; }
    ByteView view() const noexcept { return {data_, size_}; }

  private:
    [[nodiscard]] bool reallocate(std::size_t capacity) noexcept;
    void release() noexcept;

    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    // A mapping's length exactly, or the heap block's size.
    std::size_t capacity_ = 0;
};

} // namespace talvora
