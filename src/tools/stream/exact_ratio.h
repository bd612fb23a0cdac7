// src/tools/stream/exact_ratio.h: unsigned integers of up to 256 bits, just
// enough to hold the numerators of the report's statistics exactly (n * S_xx
// passes 2^128 once n nears 2^56) and turn them into a double once.
#pragma once

#include <array>
#include <compare>
#include <cstdint>

namespace talvora::tools {

class UInt256 {
  public:
    UInt256() = default;
    UInt256(unsigned __int128 value) // NOLINT: widening is exact
        : limbs_{static_cast<std::uint64_t>(value), static_cast<std::uint64_t>(value >> 64), 0, 0} {
    }

    static UInt256 product(unsigned __int128 a, unsigned __int128 b);
    // this - other; other must not exceed this.
    UInt256 minus(const UInt256& other) const;
    // The nearest double (ties to even).
    double to_double() const;
    bool is_zero() const { return (limbs_[0] | limbs_[1] | limbs_[2] | limbs_[3]) == 0; }

    friend std::strong_ordering operator<=>(const UInt256& a, const UInt256& b);
    friend bool operator==(const UInt256&, const UInt256&) = default;

  private:
    // Least significant first.
    std::array<std::uint64_t, 4> limbs_{};
};

// (plus - minus) / denominator, each difference exact and rounded to double
// once before the division; NaN when the denominator is zero.
double difference_ratio(const UInt256& plus, const UInt256& minus, const UInt256& denominator);

} // namespace talvora::tools
