// tests/cpp/tools/sp800_90b_compression_statistic_test.cpp: the decimal
// text, and the stream length summed over separately compressed blocks
// against libbz2 compressing the whole text in one call.
#include "sp800_90b_sources.h"
#include "tools/sp800_90b/compression_statistic.h"

#include <gtest/gtest.h>

#include <string>

extern "C" int BZ2_bzBuffToBuffCompress(char* dest, unsigned int* dest_len, char* source,
                                        unsigned int source_len, int block_size_100k, int verbosity,
                                        int work_factor);

namespace talvora::tools::sp800_90b::testing {
namespace {

std::string expected_text(const Samples& literal, const std::array<std::uint8_t, 256>& raw) {
    std::string text;
    for (std::size_t i = 0; i < literal.size(); ++i)
        text += (i == 0 ? "" : " ") + std::to_string(raw[literal[i]]);
    return text;
}

std::uint64_t whole_stream_length(std::string text) {
    std::vector<char> out(text.size() + text.size() / 64 + 1024);
    unsigned int len = static_cast<unsigned int>(out.size());
    EXPECT_EQ(BZ2_bzBuffToBuffCompress(out.data(), &len, text.data(),
                                       static_cast<unsigned int>(text.size()), 5, 0, 0),
              0);
    return len;
}

std::uint64_t blockwise_length(std::string_view text) {
    std::vector<char> scratch(BZIP2_SCRATCH);
    std::uint64_t bits = 0;
    for (const std::string_view block : bzip2_blocks(text)) {
        EXPECT_LE(block.size(), BZIP2_BLOCK_MAX);
        bits += bzip2_block_bits(block, scratch).value();
    }
    EXPECT_EQ(bzip2_length_up_to(text, UINT64_MAX, scratch), bzip2_stream_length(bits));
    return bzip2_stream_length(bits);
}

TEST(CompressionStatistic, DecimalText) {
    std::array<std::uint8_t, 256> raw{};
    for (unsigned s = 0; s < 256; ++s)
        raw[s] = static_cast<std::uint8_t>(255 - s);
    const DecimalText text(raw);
    for (const Samples& literal :
         {Samples{}, Samples{255}, Samples{0, 155, 245, 255, 3}, uniform_samples(1'000, 8, 1)}) {
        std::vector<char> out(text.length(literal) + 4);
        EXPECT_EQ(text.write(literal, out), expected_text(literal, raw));
        EXPECT_EQ(text.length(literal), expected_text(literal, raw).size());
    }
}

// Texts over one and several blocks, including ends just past the fill
// level, where a last lone character joins the block before it.
TEST(CompressionStatistic, BlocksAddUpToTheWholeStream) {
    std::array<std::uint8_t, 256> raw{};
    for (unsigned s = 0; s < 256; ++s)
        raw[s] = static_cast<std::uint8_t>(s);
    std::vector<std::string> texts{"",
                                   "7",
                                   "1 1 1 1",
                                   expected_text(uniform_samples(150'000, 8, 2), raw),
                                   expected_text(biased_bits(600'000, 0.2, 3), raw),
                                   expected_text(markov_nibbles(400'000, 4), raw)};
    const std::string base = expected_text(uniform_samples(140'000, 8, 5), raw);
    for (std::size_t extra = 0; extra < 4; ++extra)
        texts.push_back(base.substr(0, 499'981 + extra));
    // "5 5 ... 5 111 5 ...": runs of digits that straddle the fill level,
    // or end the text just after it.
    for (std::size_t start : {499'978u, 499'980u})
        for (std::size_t tail : {1u, 2u, 3u, 4u, 600u}) {
            std::string text;
            while (text.size() < start)
                text += "5 ";
            text.resize(start);
            text += "111 5 2 ";
            text.resize(start + tail);
            if (text.back() == ' ') text.pop_back();
            texts.push_back(text);
        }
    for (const std::string& text : texts)
        EXPECT_EQ(blockwise_length(text), whole_stream_length(text)) << text.size();
}

// Past the limit the length is only known to exceed it: the blocks after
// the one that crosses it are left alone.
TEST(CompressionStatistic, LengthUpToALimit) {
    std::array<std::uint8_t, 256> raw{};
    for (unsigned s = 0; s < 256; ++s)
        raw[s] = static_cast<std::uint8_t>(s);
    const std::string text = expected_text(uniform_samples(400'000, 8, 7), raw); // three blocks
    std::vector<char> scratch(BZIP2_SCRATCH);
    const std::uint64_t whole = whole_stream_length(text);
    const std::vector<std::string_view> blocks = bzip2_blocks(text);
    ASSERT_EQ(blocks.size(), 3u);
    const std::uint64_t first = bzip2_stream_length(bzip2_block_bits(blocks[0], scratch).value());
    EXPECT_EQ(bzip2_length_up_to(text, whole, scratch), whole);
    EXPECT_EQ(bzip2_length_up_to(text, first - 1, scratch), first);
    const std::uint64_t partial = bzip2_length_up_to(text, first, scratch).value();
    EXPECT_GT(partial, first);
    EXPECT_LT(partial, whole);
}

} // namespace
} // namespace talvora::tools::sp800_90b::testing
