// tests/cpp/tools/sp800_90b_non_iid_oracle_test.cpp: every non-IID
// estimate, on both forms, against the reference tool on generated data:
// integers exactly, other values to 1e-12 relative (2e-12 where a local
// bound decides), the sign of zero included.
#include "sp800_90b_agreement.h"
#include "sp800_90b_oracle.h"
#include "sp800_90b_sources.h"
#include "tools/sp800_90b/non_iid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>

namespace talvora::tools::sp800_90b::testing {
namespace {

const std::set<std::string> INTEGER_LABELS{"Mode count", "v", "Sum t_i", "t", "u", "C", "r", "N"};
const std::vector<std::string> ESTIMATORS{"MCV", "Collision", "Markov", "Compression", "t-Tuple",
                                          "LRS", "MultiMCW",  "Lag",    "MultiMMC",    "LZ78Y"};

// The tool prints doubles with 17 significant digits, which read back
// exactly, and extended-precision values with 22.
long double read_printed(const std::string& printed) {
    std::size_t significant = 0;
    for (const char c : printed.substr(0, printed.find_first_of("eE")))
        if (c >= '1' && c <= '9')
            ++significant;
        else if (c == '0' && significant > 0)
            ++significant;
    return significant <= 17 ? std::strtod(printed.c_str(), nullptr)
                             : std::strtold(printed.c_str(), nullptr);
}

void expect_close(const std::string& what, double ours, const std::string& printed,
                  double tolerance) {
    const long double tool = read_printed(printed);
    if (std::isinf(tool) || std::isnan(tool)) {
        // The tool prints "inf", "-inf" or "nan" where a count is too small.
        EXPECT_TRUE(std::isnan(ours) ? std::isnan(tool) : ours == tool)
            << what << ": ours " << ours << ", tool " << printed;
        return;
    }
    if (tool == 0 && ours == 0) {
        EXPECT_EQ(std::signbit(ours), std::signbit(tool)) << what << ": sign of zero";
        return;
    }
    const long double difference =
        std::fabs(ours - tool) /
        std::max(std::fabs(static_cast<long double>(ours)), std::fabs(tool));
    record_difference(what, static_cast<double>(difference));
    EXPECT_LE(difference, tolerance) << what << ": ours " << ours << ", tool " << printed;
}

const Estimate* find_estimate(const NonIidResult& result, const std::string& form,
                              const std::string& name) {
    for (const Estimate& e : result.estimates)
        if (form_name(e.form) == form && e.name == name) return &e;
    return nullptr;
}

void expect_same_estimate(const Estimate* ours, const OracleEstimate* tool,
                          const std::string& what) {
    if (tool == nullptr || !ours) {
        // The tool prints nothing, or only a failure line, for an estimator
        // without a value.
        const bool tool_has_value =
            tool != nullptr && std::any_of(tool->values.begin(), tool->values.end(),
                                           [](const auto& v) { return v.first == "min entropy"; });
        EXPECT_FALSE(tool_has_value) << what << ": the tool has a value, we have no estimate";
        if (ours) {
            EXPECT_FALSE(ours->min_entropy) << what << ": the tool has no value";
        }
        return;
    }
    const bool local_bound = ours->find("P_local") != nullptr;
    for (const auto& [label, printed] : tool->values) {
        const std::string name = what + " " + label;
        if (label == "min entropy") {
            ASSERT_TRUE(ours->min_entropy) << name;
            expect_close(name, *ours->min_entropy, printed, local_bound ? 2e-12 : 1e-12);
            continue;
        }
        const Value* value = ours->find(label);
        ASSERT_NE(value, nullptr) << name << " missing";
        if (INTEGER_LABELS.contains(label)) {
            ASSERT_TRUE(std::holds_alternative<std::int64_t>(*value)) << name;
            EXPECT_EQ(std::get<std::int64_t>(*value), std::stoll(printed)) << name;
        } else {
            ASSERT_TRUE(std::holds_alternative<double>(*value)) << name;
            expect_close(name, std::get<double>(*value), printed,
                         label == "P_local" ? 2e-12 : 1e-12);
        }
    }
    if (!local_bound) {
        EXPECT_TRUE(std::any_of(tool->messages.begin(), tool->messages.end(),
                                [](const std::string& m) { return m.starts_with("P_local"); }) ||
                    ours->find("P_global") == nullptr)
            << what << ": the tool solved a local bound";
    }
    EXPECT_TRUE(ours->min_entropy) << what;
}

void expect_same_assessment(const NonIidResult& ours, const OracleReport& tool) {
    ASSERT_EQ(tool.exit_status, 0) << tool.output;
    for (const std::string form : {"bitstring", "literal"})
        for (const std::string& name : ESTIMATORS)
            expect_same_estimate(find_estimate(ours, form, name), tool.find(form, name),
                                 form + " " + name);
    // A predictor's local bound may decide the final values.
    const bool local_bound = std::any_of(ours.estimates.begin(), ours.estimates.end(),
                                         [](const Estimate& e) { return e.find("P_local"); });
    const double tolerance = local_bound ? 2e-12 : 1e-12;
    ASSERT_EQ(ours.h_bitstring.has_value(), tool.h_bitstring.has_value());
    if (ours.h_bitstring)
        expect_close("H_bitstring", *ours.h_bitstring, *tool.h_bitstring, tolerance);
    ASSERT_EQ(ours.h_original.has_value(), tool.h_original.has_value());
    if (ours.h_original) expect_close("H_original", *ours.h_original, *tool.h_original, tolerance);
    ASSERT_TRUE(tool.assessed);
    expect_close("assessed", ours.assessed, *tool.assessed, tolerance);
}

struct OracleCase {
    std::string name;
    std::function<Samples()> make;
    unsigned bits;
    bool conditioned = false;
    bool small = false; // run in sanitizer builds too
};

std::ostream& operator<<(std::ostream& out, const OracleCase& c) {
    return out << c.name;
}

class NonIidOracle : public ::testing::TestWithParam<OracleCase> {};

TEST_P(NonIidOracle, AgreesWithReferenceTool) {
    const OracleCase& c = GetParam();
    if (SLOW_BUILD && !c.small) GTEST_SKIP() << "large oracle case in a slow build";
    const Samples data = c.make();
    const OracleReport tool = run_ea_non_iid(data, c.bits, c.conditioned);
    const NonIidResult ours = non_iid(data, c.bits, c.conditioned);
    expect_same_assessment(ours, tool);
}

const OracleCase CASES[] = {
    // Sources.
    {"uniform_bytes_150k", [] { return uniform_samples(150'000, 8, 1); }, 8},
    {"skewed_bytes_200k", [] { return skewed_bytes(200'000, 2); }, 8},
    {"markov_nibbles_200k", [] { return markov_nibbles(200'000, 3); }, 4},
    {"biased_bits_1m", [] { return biased_bits(1'000'000, 0.3, 4); }, 1},
    {"biased_bits_20k", [] { return biased_bits(20'000, 0.45, 5); }, 1, false, true},
    {"uniform_6bit_7k", [] { return uniform_samples(7'000, 6, 6); }, 6, false, true},
    {"three_values_in_2bit_50k", [] { return choose_from(50'000, {0, 2, 3}, 7); }, 2},
    {"two_values_in_8bit_30k", [] { return choose_from(30'000, {0x10, 0xf0}, 8); }, 8},
    {"skewed_bytes_10k", [] { return skewed_bytes(10'000, 9); }, 8, false, true},
    // Conditioned: the bitstring alone.
    {"conditioned_uniform_bytes_20k", [] { return uniform_samples(20'000, 8, 10); }, 8, true},
    {"conditioned_markov_nibbles_5k", [] { return markov_nibbles(5'000, 11); }, 4, true, true},
    {"conditioned_bits_8k", [] { return biased_bits(8'000, 0.2, 12); }, 1, true, true},
    {"conditioned_two_values_in_8bit_3k", [] { return choose_from(3'000, {0x5a, 0xa5}, 23); }, 8,
     true, true},
    // Narrower than declared: 4-bit values as 8-bit samples.
    {"nibbles_declared_8bit_5k", [] { return markov_nibbles(5'000, 24); }, 8, false, true},
    // Degenerate sequences.
    {"alternating_nibbles_10k", [] { return alternating(10'000, 3, 9); }, 4, false, true},
    {"alternating_bits_5k", [] { return alternating(5'000, 1, 0); }, 1, false, true},
    {"repeated_block_bytes_40k", [] { return repeated_block(40'000, 3'000, 8, 13); }, 8},
    {"repeated_block_bits_20k", [] { return repeated_block(20'000, 777, 1, 14); }, 1, false, true},
    {"cycle_of_three_in_2bit_9k", [] { return repeated_block(9'000, 3, 2, 15); }, 2, false, true},
    // Lengths at each estimator's threshold.
    {"literal_17", [] { return uniform_samples(17, 3, 16); }, 3, false, true},
    {"literal_18", [] { return uniform_samples(18, 3, 17); }, 3, false, true},
    {"literal_4095", [] { return uniform_samples(4'095, 3, 18); }, 3, false, true},
    {"literal_4096", [] { return uniform_samples(4'096, 3, 19); }, 3, false, true},
    {"bits_19", [] { return biased_bits(19, 0.5, 20); }, 1, false, true},
    {"bits_6005", [] { return biased_bits(6'005, 0.5, 21); }, 1, false, true},
    {"bits_6006", [] { return biased_bits(6'006, 0.5, 22); }, 1, false, true},
    {"nibbles_5", [] { return Samples{1, 2, 3, 1, 2}; }, 4, false, true},
};

INSTANTIATE_TEST_SUITE_P(Cases, NonIidOracle, ::testing::ValuesIn(CASES),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace talvora::tools::sp800_90b::testing
