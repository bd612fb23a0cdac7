// tests/cpp/utf8_lossy_test.cpp: one U+FFFD per maximal subpart of ill-formed
// UTF-8.
#include "module/utf8_lossy.h"

#include <gtest/gtest.h>

#include <string>

namespace talvora {
namespace {

std::string lossy(std::string_view bytes) {
    Text text = utf8_lossy(bytes);
    std::string shown(text.data(), text.size());
    for (std::size_t at; (at = shown.find("\xEF\xBF\xBD")) != std::string::npos;)
        shown.replace(at, 3, "?");
    return shown;
}

TEST(Utf8Lossy, ReplacesEachMaximalSubpart) {
    EXPECT_EQ(lossy("plain \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xED\x9F\xBF\xF4\x8F\xBF\xBF"),
              "plain \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xED\x9F\xBF\xF4\x8F\xBF\xBF");
    // A surrogate as "surrogatepass" writes it: ED may not be followed by
    // A0..BF, so each of its three bytes is replaced on its own.
    EXPECT_EQ(lossy("a\xED\xB2\x80z"), "a???z");
    EXPECT_EQ(lossy("\xC0\x80|\xE0\x80\x80|\xF4\x90\x80\x80"),
              "??|???|????");                                         // overlong, too large
    EXPECT_EQ(lossy("\xF5|\x80|\xE2\x82|\xF0\x9F\x98x"), "?|?|?|?x"); // bad lead, truncated
}

} // namespace
} // namespace talvora
