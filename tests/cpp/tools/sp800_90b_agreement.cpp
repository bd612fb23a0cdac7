// tests/cpp/tools/sp800_90b_agreement.cpp: the comparisons and their record.
#include "sp800_90b_agreement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace talvora::tools::sp800_90b::testing {

namespace {

std::map<std::string, double>& largest_differences() {
    static std::map<std::string, double> seen;
    return seen;
}

class PrintDifferences : public ::testing::Environment {
  public:
    void TearDown() override {
        for (const auto& [what, difference] : largest_differences())
            std::printf("largest relative difference %-36s %.3g\n", what.c_str(), difference);
    }
};
const auto* const print_differences = ::testing::AddGlobalTestEnvironment(new PrintDifferences);

} // namespace

void expect_close(const std::string& what, double ours, const std::string& printed,
                  double tolerance) {
    const double tool = std::strtod(printed.c_str(), nullptr);
    const double scale = std::fabs(tool) > 0 ? std::fabs(tool) : 1;
    const double difference = std::fabs(ours - tool) / scale;
    record_difference(what, difference);
    EXPECT_LE(difference, tolerance) << what << ": ours " << ours << ", tool " << printed;
}

void expect_integer(const std::string& what, std::uint64_t ours, const std::string& printed) {
    EXPECT_EQ(std::to_string(ours), printed) << what;
    largest_differences()[what] += 0; // listed, as exact
}

void record_difference(const std::string& what, double difference) {
    double& largest = largest_differences()[what];
    largest = std::max(largest, difference);
}

} // namespace talvora::tools::sp800_90b::testing
