// tests/cpp/tools/sp800_90b_non_iid_test.cpp: the non-IID assessment as a
// whole: which estimators run on which form, how the final figures
// combine, inputs too small or too plain for the estimators, and results
// that do not depend on the number of workers.
#include "pool/pool.h"
#include "sp800_90b_sources.h"
#include "tools/sp800_90b/non_iid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <stop_token>

namespace talvora::tools::sp800_90b::testing {
namespace {

std::vector<std::string> names_on(const NonIidResult& result, Form form) {
    std::vector<std::string> names;
    for (const Estimate& e : result.estimates)
        if (e.form == form) names.push_back(e.name);
    return names;
}

const std::vector<std::string> ALL_TEN{"MCV", "Collision", "Markov", "Compression", "t-Tuple",
                                       "LRS", "MultiMCW",  "Lag",    "MultiMMC",    "LZ78Y"};
const std::vector<std::string> ANY_ALPHABET{"MCV", "t-Tuple",  "LRS",  "MultiMCW",
                                            "Lag", "MultiMMC", "LZ78Y"};

TEST(NonIid, FormsByAlphabet) {
    // Many values: the bitstring runs all ten, the literal sequence seven.
    const NonIidResult wide = non_iid(uniform_samples(5'000, 4, 1), 4, false);
    EXPECT_EQ(names_on(wide, Form::bitstring), ALL_TEN);
    EXPECT_EQ(names_on(wide, Form::literal), ANY_ALPHABET);
    EXPECT_EQ(wide.k, 16u);
    ASSERT_TRUE(wide.h_original && wide.h_bitstring);
    EXPECT_EQ(wide.assessed, std::min({4.0, *wide.h_original, 4.0 * *wide.h_bitstring}));
    // Two values, even 8 bits wide: binary literal data, no bitstring.
    const NonIidResult two = non_iid(choose_from(5'000, {3, 250}, 2), 8, false);
    EXPECT_EQ(names_on(two, Form::literal), ALL_TEN);
    EXPECT_TRUE(names_on(two, Form::bitstring).empty());
    EXPECT_FALSE(two.h_bitstring);
    EXPECT_EQ(two.assessed, std::min(8.0, *two.h_original));
    // Conditioned: the bitstring alone.
    const NonIidResult conditioned = non_iid(uniform_samples(5'000, 4, 3), 4, true);
    EXPECT_EQ(names_on(conditioned, Form::bitstring), ALL_TEN);
    EXPECT_TRUE(names_on(conditioned, Form::literal).empty());
    EXPECT_FALSE(conditioned.h_original);
    EXPECT_EQ(conditioned.assessed, std::min(4.0, 4.0 * *conditioned.h_bitstring));
}

TEST(NonIid, FewSamplesWarn) {
    EXPECT_EQ(non_iid(uniform_samples(2'000, 8, 4), 8, false).warnings.size(), 1u);
}

TEST(NonIid, OneValueHasNoEntropy) {
    for (const bool conditioned : {false, true}) {
        const NonIidResult result = non_iid(Samples(1'000, 5), 3, conditioned);
        EXPECT_TRUE(result.estimates.empty());
        EXPECT_EQ(result.assessed, 0.0);
        EXPECT_EQ(result.k, 1u);
        EXPECT_EQ(result.h_original.has_value(), !conditioned);
        EXPECT_EQ(result.h_bitstring.has_value(), conditioned);
    }
}

TEST(NonIid, BadInput) {
    EXPECT_THROW(non_iid(Samples{}, 8, false), std::invalid_argument);
    EXPECT_THROW(non_iid(Samples{1, 2, 8}, 3, false), SampleRangeError);
    EXPECT_THROW(non_iid(Samples{1, 2}, 0, false), std::invalid_argument);
}

// A stop asked for before the estimators start skips every one of them.
TEST(NonIid, StopsWhenAsked) {
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(non_iid(uniform_samples(200'000, 8, 4), 8, false, stop.get_token()), TasksStopped);
}

// A few bits: the reference tool aborts on these; every estimate here is a
// number in range or absent.
TEST(NonIid, TinyInputsGiveFiniteValues) {
    for (std::size_t n = 2; n <= 40; ++n)
        for (const bool conditioned : {false, true}) {
            const Samples bits = biased_bits(n, 0.5, n);
            for (const auto& [data, width] :
                 {std::pair{bits, 1u}, std::pair{uniform_samples(n, 3, n), 3u}}) {
                if (std::count(data.begin(), data.end(), data[0]) == std::ptrdiff_t(n)) continue;
                const NonIidResult result = non_iid(data, width, conditioned);
                for (const Estimate& e : result.estimates)
                    if (e.min_entropy) {
                        EXPECT_TRUE(std::isfinite(*e.min_entropy)) << e.name << " " << n;
                        EXPECT_GE(*e.min_entropy, 0.0) << e.name << " " << n;
                    }
                EXPECT_GE(result.assessed, 0.0);
                EXPECT_LE(result.assessed, width);
            }
        }
}

bool same(const NonIidResult& a, const NonIidResult& b) {
    if (a.estimates.size() != b.estimates.size()) return false;
    const auto bits = [](std::optional<double> x) {
        return x ? std::bit_cast<std::uint64_t>(*x) : ~std::uint64_t{0};
    };
    for (std::size_t i = 0; i < a.estimates.size(); ++i) {
        const Estimate &x = a.estimates[i], &y = b.estimates[i];
        if (x.name != y.name || x.form != y.form || bits(x.min_entropy) != bits(y.min_entropy))
            return false;
        for (std::size_t j = 0; j < x.values.size(); ++j)
            if (x.values[j].name != y.values[j].name || x.values[j].value != y.values[j].value)
                return false;
    }
    return bits(a.assessed) == bits(b.assessed);
}

TEST(NonIid, SameResultOnAnyNumberOfWorkers) {
    const Samples data = markov_nibbles(20'000, 5);
    const NonIidResult here = non_iid(data, 4, false);
    for (const std::size_t workers : {1u, 2u, 5u}) {
        WorkerPool pool(workers);
        const NonIidResult there = pool.run_blocking([&] { return non_iid(data, 4, false); });
        EXPECT_TRUE(same(here, there)) << workers;
    }
}

} // namespace
} // namespace talvora::tools::sp800_90b::testing
