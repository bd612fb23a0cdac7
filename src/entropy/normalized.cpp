// src/entropy/normalized.cpp: Shannon entropy over the entropy random data
// of the same length is expected to have, capped at 1.0.
#include "entropy/entropy.h"

#include <cmath>

namespace talvora {

double reference_entropy(std::uint64_t n) {
    if (n < EXPECTED_TABLE_LEN) return ExpectedEntropyTable[n];
    // The fitted curve 8 - a (n + b)^-c; at least 7.806 from n = 1000 on.
    const double x = static_cast<double>(n);
    const double w = std::pow(x + 2.4455815452217937, -1.0315023046832281);
    const double deficit = 241.73498474635633 * w;
    return 8.0 - deficit;
}

double histogram_normalized_metric_entropy(const ByteHistogram& histogram, std::uint64_t n) {
    // One byte holds no information about randomness: +0.0, not the -0.0 of
    // its Shannon entropy.
    if (n <= 1) return 0.0;
    const double q = histogram_entropy(histogram, n) / reference_entropy(n);
    return q < 1.0 ? q : 1.0;
}

double normalized_metric_entropy(ByteView bytes) {
    return histogram_normalized_metric_entropy(count_bytes(bytes), bytes.size());
}

} // namespace talvora
