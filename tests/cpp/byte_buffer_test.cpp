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
        ASSERT_TRUE(buffer.push_back(pattern(i)));
        was_heap = was_heap || (buffer.size() > 100 && !buffer.is_mapped());
    }
    EXPECT_TRUE(was_heap);
    EXPECT_TRUE(buffer.is_mapped());
    ASSERT_EQ(buffer.size(), len);
    for (std::size_t i = 0; i < len; ++i)
        ASSERT_EQ(buffer.data()[i], pattern(i)) << i;
}

TEST(ByteBuffer, MakeRoomGrowsGeometrically) {
    // Doubling reaches a mapping's capacity once the bytes pass half of it;
    // growing by what each append needs would reach it only at the full size.
    ByteBuffer buffer;
    while (!buffer.is_mapped()) {
        ASSERT_TRUE(buffer.make_room(1));
        *buffer.tail() = pattern(buffer.size());
        buffer.appended(1);
    }
    EXPECT_LE(buffer.size(), ByteBuffer::MAPPED_MIN_CAPACITY / 2 + 1);
    for (std::size_t i = 0; i < buffer.size(); ++i)
        ASSERT_EQ(buffer.data()[i], pattern(i));
}

TEST(ByteBuffer, MovesOwnTheirBytes) {
    for (const std::size_t len :
         {std::size_t{0}, std::size_t{5}, 2 * ByteBuffer::MAPPED_MIN_CAPACITY}) {
        ByteBuffer source;
        ASSERT_TRUE(source.reserve(len));
        for (std::size_t i = 0; i < len; ++i)
            ASSERT_TRUE(source.push_back(pattern(i)));
        EXPECT_EQ(source.is_mapped(), len >= ByteBuffer::MAPPED_MIN_CAPACITY);
        ByteBuffer moved(std::move(source));
        EXPECT_EQ(source.size(), 0u);
        EXPECT_EQ(source.data(), nullptr);
        ByteBuffer assigned;
        ASSERT_TRUE(assigned.push_back(1));
        assigned = std::move(moved);
        ASSERT_EQ(assigned.size(), len);
        for (std::size_t i = 0; i < len; ++i)
            ASSERT_EQ(assigned.data()[i], pattern(i));
    }
}

TEST(ByteBuffer, AGrowthBeyondMemoryFailsAndKeepsTheBytes) {
    ByteBuffer buffer;
    ASSERT_TRUE(buffer.push_back(7));
    EXPECT_FALSE(buffer.reserve(SIZE_MAX - 1));
    EXPECT_FALSE(buffer.make_room(SIZE_MAX / 2));
    ASSERT_EQ(buffer.size(), 1u);
    EXPECT_EQ(buffer.data()[0], 7);
}

} // namespace
} // namespace talvora
