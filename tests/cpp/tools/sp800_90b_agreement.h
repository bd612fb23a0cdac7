// tests/cpp/tools/sp800_90b_agreement.h: comparing our values with the
// reference tool's printed ones, and the largest relative difference seen
// per quantity, printed when the test program ends (for the record of how
// closely we agree).
#pragma once

#include <cstdint>
#include <string>

namespace talvora::tools::sp800_90b::testing {

// Unoptimised and sanitizer builds run only the small oracle cases.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || !defined(NDEBUG)
inline constexpr bool SLOW_BUILD = true;
#else
inline constexpr bool SLOW_BUILD = false;
#endif

// Ours within tolerance (relative) of the printed value.
void expect_close(const std::string& what, double ours, const std::string& printed,
                  double tolerance);
// Ours exactly the printed integer.
void expect_integer(const std::string& what, std::uint64_t ours, const std::string& printed);
// Keeps difference if it is the largest seen for what.
void record_difference(const std::string& what, double difference);

} // namespace talvora::tools::sp800_90b::testing
