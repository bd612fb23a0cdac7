// src/tools/stream/exact_ratio.cpp: 256-bit products, differences and the
// one rounding to double.
#include "tools/stream/exact_ratio.h"

#include <bit>
#include <cmath>
#include <limits>

namespace talvora::tools {

using u128 = unsigned __int128;

UInt256 UInt256::product(u128 a, u128 b) {
    const std::uint64_t a_part[2] = {static_cast<std::uint64_t>(a),
                                     static_cast<std::uint64_t>(a >> 64)};
    const std::uint64_t b_part[2] = {static_cast<std::uint64_t>(b),
                                     static_cast<std::uint64_t>(b >> 64)};
    UInt256 result;
    // Schoolbook: each partial product is added at its limb with the carry
    // rippled upwards; 64 x 64 -> 128 bits plus two limbs never overflow 128.
    for (int i = 0; i < 2; ++i) {
        u128 carry = 0;
        for (int j = 0; j < 2; ++j) {
            const u128 sum = u128{a_part[i]} * b_part[j] + result.limbs_[i + j] + carry;
            result.limbs_[i + j] = static_cast<std::uint64_t>(sum);
            carry = sum >> 64;
        }
        result.limbs_[i + 2] = static_cast<std::uint64_t>(carry);
    }
    return result;
}

UInt256 UInt256::minus(const UInt256& other) const {
    UInt256 result;
    std::uint64_t borrow = 0;
    for (std::size_t i = 0; i < limbs_.size(); ++i) {
        const std::uint64_t subtrahend = other.limbs_[i] + borrow;
        // The borrow out: other's limb plus the borrow in exceeds ours.
        const bool wrapped = subtrahend < borrow;
        result.limbs_[i] = limbs_[i] - subtrahend;
        borrow = (wrapped || limbs_[i] < subtrahend) ? 1 : 0;
    }
    return result;
}

double UInt256::to_double() const {
    if ((limbs_[2] | limbs_[3]) == 0)
        return static_cast<double>((u128{limbs_[1]} << 64) | limbs_[0]);
    // Keep the top 128 bits and fold every bit below them into the lowest
    // kept one: 75 bits under the last of the 53 that survive, it decides
    // only ties, as the full value would. The scaling back is exact.
    const int top = limbs_[3] != 0 ? 3 : 2;
    // The number of bits below the kept 128, in [1, 128].
    const int kept_shift = 64 * (top + 1) - std::countl_zero(limbs_[top]) - 128;
    u128 kept = 0;
    bool sticky = false;
    for (int i = 0; i <= top; ++i) {
        const int low = 64 * i; // the limb's lowest bit
        const std::uint64_t limb = limbs_[i];
        if (limb == 0) continue;
        if (low + 64 <= kept_shift) {
            sticky = true;
        } else if (low < kept_shift) {
            const int cut = kept_shift - low;
            sticky |= (limb & ((std::uint64_t{1} << cut) - 1)) != 0;
            kept |= u128{limb >> cut};
        } else {
            kept |= u128{limb} << (low - kept_shift);
        }
    }
    if (sticky) kept |= 1;
    return std::ldexp(static_cast<double>(kept), kept_shift);
}

std::strong_ordering operator<=>(const UInt256& a, const UInt256& b) {
    for (std::size_t i = a.limbs_.size(); i-- > 0;)
        if (a.limbs_[i] != b.limbs_[i]) return a.limbs_[i] <=> b.limbs_[i];
    return std::strong_ordering::equal;
}

double difference_ratio(const UInt256& plus, const UInt256& minus, const UInt256& denominator) {
    if (denominator.is_zero()) return std::numeric_limits<double>::quiet_NaN();
    const double divisor = denominator.to_double();
    if (plus >= minus) return plus.minus(minus).to_double() / divisor;
    return -(minus.minus(plus).to_double()) / divisor;
}

} // namespace talvora::tools
