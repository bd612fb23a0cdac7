// tests/cpp/byte_buffer_test.cpp: ByteBuffer keeps its bytes across growth
// from the heap into a mapping and within a mapping.
#include "module/byte_buffer.h"

#include <gtest/gtest.h>

#include <vector>

namespace talvora {
namespace {

std::uint8_t pattern(std::size_t i) {
    return static_cast<std::uint8_t>(i * 131 + i / 251);
}

TEST(ByteBuffer, PushBackKeepsEveryByteAcrossTheMappingThreshold) {
    ByteBuffer buffer;
    const std::size_t len = 3 * ByteBuffer::MAPPED_MIN_CAPACITY + 17;
    bool was_heap = false;
    for (std::size_t i = 0; i < len; ++i) {
        buffer.push_back(pattern(i));
        was_heap = was_heap || (buffer.size() > 100 && !buffer.is_mapped());
    }
    EXPECT_TRUE(was_heap);
    EXPECT_TRUE(buffer.is_mapped());
    ASSERT_EQ(buffer.size(), len);
    for (std::size_t i = 0; i < len; ++i)
        ASSERT_EQ(buffer.data()[i], pattern(i)) << i;
}

TEST(ByteBuffer, AppendSpaceGrowsGeometrically) {
    ByteBuffer buffer;
    std::size_t reallocations = 0;
    for (std::size_t i = 0; i < 200'000; ++i) {
        const std::size_t capacity = buffer.capacity();
        *buffer.append_space(1) = pattern(i);
        buffer.appended(1);
        reallocations += buffer.capacity() != capacity;
    }
    EXPECT_LT(reallocations, 20u);
    for (std::size_t i = 0; i < buffer.size(); ++i)
        ASSERT_EQ(buffer.data()[i], pattern(i));
}

TEST(ByteBuffer, CopiesAndMovesOwnTheirBytes) {
    for (const std::size_t len :
         {std::size_t{0}, std::size_t{5}, 2 * ByteBuffer::MAPPED_MIN_CAPACITY}) {
        std::vector<std::uint8_t> source(len);
        for (std::size_t i = 0; i < len; ++i)
            source[i] = pattern(i);
        ByteBuffer copy = ByteBuffer::copy_of(source.data(), len);
        EXPECT_EQ(copy.is_mapped(), len >= ByteBuffer::MAPPED_MIN_CAPACITY);
        ByteBuffer moved(std::move(copy));
        EXPECT_EQ(copy.size(), 0u);
        EXPECT_EQ(copy.data(), nullptr);
        ByteBuffer assigned = ByteBuffer::copy_of("x", 1);
        assigned = std::move(moved);
        ASSERT_EQ(assigned.size(), len);
        EXPECT_TRUE(std::equal(source.begin(), source.end(), assigned.data()));
    }
}

} // namespace
} // namespace talvora
