// src/module/utf8_lossy.cpp: UTF-8 decoding with maximal-subpart replacement.
#include "module/utf8_lossy.h"

#include <cstdint>

namespace talvora {
namespace {

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";

// Length of the well-formed sequence that starts at `at`, or 0 when it is
// ill-formed; in that case `subpart` is the length of its maximal subpart
// (at least 1), which is replaced as a unit.
std::size_t sequence_length(std::string_view bytes, std::size_t at, std::size_t& subpart) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[at + i]); };
    const std::uint8_t lead = byte(0);
    subpart = 1;
    if (lead < 0x80) return 1;
    std::size_t length;
    std::uint8_t low = 0x80, high = 0xBF; // bounds of the second byte (Table 3-7)
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (at + i >= bytes.size()) return 0;
        const std::uint8_t next = byte(i);
        const bool fits = i == 1 ? next >= low && next <= high : next >= 0x80 && next <= 0xBF;
        if (!fits) return 0;
        subpart = i + 1;
    }
    return length;
}

} // namespace

Text utf8_lossy(std::string_view bytes) noexcept {
    Text text;
    text.reserve(bytes.size());
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::size_t subpart;
        if (const std::size_t length = sequence_length(bytes, at, subpart)) {
            text.append(bytes.substr(at, length));
            at += length;
        } else {
            text.append(REPLACEMENT);
            at += subpart;
        }
    }
    return text;
}

} // namespace talvora
