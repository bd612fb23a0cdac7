// tests/cpp/tools/p_value_test.cpp: the chi-square p-value against scipy's
// chi2.sf for 255 degrees of freedom, from 0 to far in the tail.
#include "tools/stream/report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace talvora::tools {
namespace {

struct Reference {
    double chi_square, p_value;
};

const Reference SCIPY[] = {
#include "data/chi2_sf_255.inc"
};

TEST(PValue, WithinATenBillionthOfScipyWhereverItIsAbove1e300) {
    double worst = 0;
    for (const Reference& ref : SCIPY) {
        const double p = chi_square_p_value(ref.chi_square);
        if (ref.p_value > 1e-300) {
            const double error = std::fabs(p - ref.p_value) / ref.p_value;
            EXPECT_LE(error, 1e-10)
                << "chi " << ref.chi_square << ": " << p << " vs " << ref.p_value;
            worst = std::max(worst, error);
        } else {
            EXPECT_LE(p, 1e-290) << "chi " << ref.chi_square;
            EXPECT_GE(p, 0.0);
        }
    }
    std::printf("largest relative difference from scipy: %.3g\n", worst);
}

TEST(PValue, EdgesOfTheDomain) {
    EXPECT_EQ(chi_square_p_value(0.0), 1.0);
    EXPECT_EQ(chi_square_p_value(1e30), 0.0);
    EXPECT_EQ(chi_square_p_value(std::numeric_limits<double>::max()), 0.0);
    EXPECT_TRUE(std::isnan(chi_square_p_value(std::numeric_limits<double>::quiet_NaN())));
    // Falls steadily through the switch from the series to the fraction.
    double previous = 1.0;
    for (double chi = 250; chi < 265; chi += 0.125) {
        const double p = chi_square_p_value(chi);
        EXPECT_LT(p, previous) << chi;
        previous = p;
    }
}

} // namespace
} // namespace talvora::tools
