// tests/cpp/tools/sp800_90b_iid_oracle_test.cpp: the IID track against the
// reference tool on generated data: integers exactly, chi-square p-values
// to 1e-9 relative, other values to 1e-12, the chi-square and LRS verdicts,
// and the permutation verdict where the data are clearly IID or clearly not.
#include "sp800_90b_agreement.h"
#include "sp800_90b_iid_oracle.h"
#include "sp800_90b_sources.h"
#include "tools/sp800_90b/iid.h"

#include <gtest/gtest.h>

namespace talvora::tools::sp800_90b::testing {
namespace {

std::string verdict(bool passed) {
    return passed ? "Passed" : "Failed";
}

enum class Clear { iid, not_iid, no };

struct Case {
    std::string name;
    Samples samples;
    unsigned bits;
    Clear clear;
    bool small;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class IidOracle : public ::testing::TestWithParam<Case> {};

TEST_P(IidOracle, AgreesWithReferenceTool) {
    const Case& c = GetParam();
    if (SLOW_BUILD && !c.small) GTEST_SKIP() << "large oracle case in a slow build";
    const ToolReport tool = run_tool("ea_iid", c.samples, {"{}", std::to_string(c.bits)});
    ASSERT_EQ(tool.exit_status, 0) << tool.output;
    WorkerPool pool(2);
    IidOptions options;
    options.seed = 90;
    const IidResult r = iid(c.samples, c.bits, options, pool);

    expect_close("mean", r.mean, tool.at("Raw Mean"), 0);
    expect_close("median", r.median, tool.at("Median"), 0);
    EXPECT_EQ(tool.at("Binary"), r.binary ? "true" : "false");
    for (const Estimate& e : r.estimates) {
        const std::string prefix = (e.form == Form::literal ? "Literal" : "Bitstring") +
                                   std::string(" Most Common Value Estimate: ");
        expect_integer("MCV mode count", std::get<std::int64_t>(*e.find("Mode count")),
                       tool.at(prefix + "Mode count"));
        expect_close("MCV p_u", std::get<double>(*e.find("p_u")), tool.at(prefix + "p_u"), 1e-12);
        expect_close("MCV min entropy", *e.min_entropy, tool.at(prefix + "min entropy"), 1e-12);
    }
    EXPECT_EQ(r.estimates.size(), r.binary ? 1u : 2u);
    expect_close("H_original", *r.h_original, tool.at("H_original"), 1e-12);
    if (r.h_bitstring) expect_close("H_bitstring", *r.h_bitstring, tool.at("H_bitstring"), 1e-12);
    expect_close("assessed", r.assessed, tool.at("Assessed min entropy"), 1e-12);

    ASSERT_TRUE(r.tests);
    const IidTests& tests = *r.tests;
    for (const auto& [label, test] :
         {std::pair{"Chi square independence", tests.independence},
          std::pair{"Chi square goodness of fit", tests.goodness_of_fit}}) {
        const std::string l = label;
        expect_close("chi-square T", test.statistic, tool.at(l + ": T"), 1e-12);
        EXPECT_EQ(std::to_string(test.degrees_of_freedom), tool.at(l + ": df")) << l;
        expect_close("chi-square p-value", test.p_value, tool.at(l + ": P-value"), 1e-9);
    }
    EXPECT_EQ(verdict(tests.chi_square_passed()), tool.at("Chi square tests"));
    const std::string lrs = "Literal Longest Repeated Substring results: ";
    expect_close("LRS test P_col", tests.lrs.collision_probability, tool.at(lrs + "P_col"), 1e-12);
    expect_integer("LRS test W", tests.lrs.longest_repeat, tool.at(lrs + "W"));
    expect_close("LRS test Pr(X >= 1)", tests.lrs.probability, tool.at(lrs + "Pr(X >= 1)"), 1e-12);
    EXPECT_EQ(verdict(tests.lrs.passed), tool.at("Length of longest repeated substring test"));

    const PermutationTestResult& p = tests.permutation;
    for (std::size_t i = 0; i < PERMUTATION_STATISTICS; ++i) {
        const std::string name(p.statistics[i].name);
        const std::string printed = tool.at("Permutation testing: Unpermuted result " + name);
        const bool ratio = name == "excursion" || name == "avgCollision";
        if (ratio)
            expect_close(name, p.statistics[i].original, printed, 1e-12);
        else
            expect_integer(name, static_cast<std::uint64_t>(p.statistics[i].original), printed);
    }
    if (c.clear == Clear::no) return;
    EXPECT_EQ(p.passed, c.clear == Clear::iid);
    EXPECT_EQ(tool.at("IID permutation tests"), verdict(c.clear == Clear::iid));
    // Where the tool's shuffles never once reached the original value, ours
    // must fail that statistic too.
    ASSERT_EQ(tool.counts.size(), PERMUTATION_STATISTICS);
    for (std::size_t i = 0; i < PERMUTATION_STATISTICS; ++i) {
        const OracleCounts& t = tool.counts[i];
        EXPECT_EQ(t.name, p.statistics[i].name);
        if (p.statistics[i].passed && (t.greater + t.equal == 0 || t.equal + t.less == 0)) {
            EXPECT_FALSE(*p.statistics[i].passed) << t.name;
        }
    }
}

std::vector<Case> cases() {
    return {
        {"uniform8_100k", uniform_samples(100'000, 8, 13), 8, Clear::iid, false},
        {"uniform8_20k", uniform_samples(20'000, 8, 2), 8, Clear::iid, true},
        {"uniform6_30k", uniform_samples(30'000, 6, 3), 6, Clear::iid, false},
        {"uniform4_50k", uniform_samples(50'000, 4, 4), 4, Clear::iid, false},
        {"uniform1_100k", uniform_samples(100'000, 1, 5), 1, Clear::iid, false},
        {"biased_bits_60k", biased_bits(60'000, 0.3, 6), 1, Clear::iid, false},
        {"two_values_of_8_bits", choose_from(40'000, {17, 200}, 7), 8, Clear::iid, false},
        {"three_values_of_8_bits", choose_from(30'000, {3, 64, 250}, 8), 8, Clear::iid, true},
        {"skewed8_50k", skewed_bytes(50'000, 9), 8, Clear::iid, false},
        // The tool computes the compression statistic on all 10,000 shuffles
        // where it never settles, so the data that are not IID are short.
        {"markov4_3k", markov_nibbles(3'000, 10), 4, Clear::not_iid, false},
        {"alternating_1000", alternating(1'000, 3, 9), 8, Clear::not_iid, false},
        {"repeated_block_600", repeated_block(600, 200, 8, 11), 8, Clear::not_iid, false},
        {"uniform8_64", uniform_samples(64, 8, 12), 8, Clear::no, true},
    };
}

INSTANTIATE_TEST_SUITE_P(Generated, IidOracle, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return info.param.name; });

TEST(IidOracle, ConstantSamplesHaveNoEntropy) {
    const Samples samples(5'000, 42);
    const ToolReport tool = run_tool("ea_iid", samples, {"{}", "8"});
    EXPECT_NE(tool.exit_status, 0);
    EXPECT_NE(tool.output.find("No entropy awarded"), std::string::npos) << tool.output;
    WorkerPool pool(1);
    const IidResult r = iid(samples, 8, {}, pool);
    EXPECT_EQ(r.assessed, 0);
    EXPECT_FALSE(r.tests);
}

} // namespace
} // namespace talvora::tools::sp800_90b::testing
