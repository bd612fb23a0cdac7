// tests/cpp/utf8_lossy_test.cpp: replacement of ill-formed UTF-8, one U+FFFD
// per maximal subpart.
#include "module/utf8_lossy.h"

#include <gtest/gtest.h>

#include <string>

namespace talvora {
namespace {

constexpr const char* FFFD = "\xEF\xBF\xBD";

std::string lossy(std::string_view bytes) {
    Text text = utf8_lossy(bytes);
    return std::string(text.data(), text.size());
}

std::string replaced(int times) {
    std::string text;
    for (int i = 0; i < times; ++i)
        text += FFFD;
    return text;
}

TEST(Utf8Lossy, WellFormedTextIsKept) {
    for (std::string_view text : {"", "plain", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                                  "\xED\x9F\xBF", "\xEE\x80\x80", "\xF4\x8F\xBF\xBF"})
        EXPECT_EQ(lossy(text), text);
}

TEST(Utf8Lossy, EachMaximalSubpartBecomesOneReplacement) {
    // A lone surrogate as "surrogatepass" writes it: ED is not followed by
    // A0..BF in UTF-8, so each of the three bytes is replaced on its own.
    EXPECT_EQ(lossy("\xED\xB2\x80"), replaced(3));
    EXPECT_EQ(lossy("a\xED\xA0\x80z"), "a" + replaced(3) + "z");
    EXPECT_EQ(lossy("\xC0\x80"), replaced(2));            // overlong
    EXPECT_EQ(lossy("\xE0\x80\x80"), replaced(3));        // overlong
    EXPECT_EQ(lossy("\xF4\x90\x80\x80"), replaced(4));    // beyond U+10FFFF
    EXPECT_EQ(lossy("\xF5"), replaced(1));                // never a lead byte
    EXPECT_EQ(lossy("\x80x"), replaced(1) + "x");         // stray continuation
    EXPECT_EQ(lossy("\xE2\x82"), replaced(1));            // truncated: one subpart
    EXPECT_EQ(lossy("\xF0\x9F\x98x"), replaced(1) + "x"); // truncated before x
    EXPECT_EQ(lossy("\xE2\x82\xE2\x82\xAC"), replaced(1) + "\xE2\x82\xAC");
}

} // namespace
} // namespace talvora
