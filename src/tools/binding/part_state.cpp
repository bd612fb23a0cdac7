// src/tools/binding/part_state.cpp: the state layout. A version byte, a
// flags byte (bit 0: truncated), then varints of n and sum_xy, the five head
// and five tail bytes, varints of the six inside counts and of the 256 byte
// counts.
#include "tools/binding/part_state.h"

#include <algorithm>

namespace talvora::tools {
namespace {

using u128 = unsigned __int128;

constexpr char VERSION = 1;
constexpr unsigned char TRUNCATED = 1;

void put_varint(std::string& out, u128 value) {
    do {
        const auto low = static_cast<unsigned char>(value & 0x7f);
        value >>= 7;
        out.push_back(static_cast<char>(value != 0 ? low | 0x80 : low));
    } while (value != 0);
}

class Reader {
  public:
    explicit Reader(std::string_view in) : in_(in) {}

    // A varint of a value below 2^bits, or none.
    std::optional<u128> varint(unsigned bits) {
        u128 value = 0;
        for (unsigned shift = 0; shift < bits; shift += 7) {
            const auto next = byte();
            if (!next) return std::nullopt;
            const u128 low = *next & 0x7f;
            if (bits - shift < 7 && (low >> (bits - shift)) != 0) return std::nullopt;
            value |= low << shift;
            if ((*next & 0x80) == 0) return value;
        }
        return std::nullopt;
    }
    std::optional<std::uint64_t> u64() {
        const auto value = varint(64);
        if (!value) return std::nullopt;
        return static_cast<std::uint64_t>(*value);
    }
    std::optional<unsigned char> byte() {
        if (in_.empty()) return std::nullopt;
        const auto value = static_cast<unsigned char>(in_.front());
        in_.remove_prefix(1);
        return value;
    }
    bool at_end() const { return in_.empty(); }

  private:
    std::string_view in_;
};

// Whole 6-byte groups starting at an offset p < n - 5 with p % 6 == r.
std::uint64_t groups_at(std::uint64_t n, std::size_t r) {
    return n < GROUP_LEN + r ? 0 : (n - GROUP_LEN - r) / GROUP_LEN + 1;
}

bool consistent(const StreamPart& part) {
    u128 total = 0, sum_xx = 0;
    for (unsigned v = 0; v < 256; ++v) {
        total += part.counts.counts[v];
        sum_xx += u128{part.counts.counts[v]} * v * v;
    }
    if (total != part.n) return false;
    // Each pair's product is at most the mean of the two squares.
    if (part.sum_xy > sum_xx) return false;
    for (std::size_t r = 0; r < GROUP_LEN; ++r)
        if (part.inside[r] > groups_at(part.n, r)) return false;
    const std::size_t edge = static_cast<std::size_t>(std::min<std::uint64_t>(part.n, EDGE_LEN));
    auto zero_past_edge = [edge](const auto& bytes) {
        return std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(edge), bytes.end(),
                           [](std::uint8_t b) { return b == 0; });
    };
    return zero_past_edge(part.head) && zero_past_edge(part.tail);
}

} // namespace

std::string encode_state(const Counted& counted) {
    const StreamPart& part = counted.part;
    std::string out;
    out.push_back(VERSION);
    out.push_back(static_cast<char>(counted.truncated ? TRUNCATED : 0));
    put_varint(out, part.n);
    put_varint(out, part.sum_xy);
    out.append(part.head.begin(), part.head.end());
    out.append(part.tail.begin(), part.tail.end());
    for (const std::uint64_t inside : part.inside)
        put_varint(out, inside);
    for (const std::uint64_t count : part.counts.counts)
        put_varint(out, count);
    return out;
}

std::optional<Counted> decode_state(std::string_view state) {
    Reader in(state);
    Counted counted;
    StreamPart& part = counted.part;
    const auto version = in.byte();
    const auto flags = in.byte();
    if (version != VERSION || !flags || (*flags & ~TRUNCATED) != 0) return std::nullopt;
    counted.truncated = (*flags & TRUNCATED) != 0;
    const auto n = in.u64();
    const auto sum_xy = in.varint(128);
    if (!n || !sum_xy) return std::nullopt;
    part.n = *n;
    part.sum_xy = *sum_xy;
    for (auto* edge : {&part.head, &part.tail})
        for (std::uint8_t& b : *edge) {
            const auto byte = in.byte();
            if (!byte) return std::nullopt;
            b = *byte;
        }
    for (std::uint64_t& inside : part.inside) {
        const auto value = in.u64();
        if (!value) return std::nullopt;
        inside = *value;
    }
    for (std::uint64_t& count : part.counts.counts) {
        const auto value = in.u64();
        if (!value) return std::nullopt;
        count = *value;
    }
    if (!in.at_end() || !consistent(part)) return std::nullopt;
    return counted;
}

} // namespace talvora::tools
