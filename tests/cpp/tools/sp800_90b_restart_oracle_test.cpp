// tests/cpp/tools/sp800_90b_restart_oracle_test.cpp: the restart tests
// against the reference tool: the sanity check and a whole non-IID
// assessment of rows and columns.
#include "sp800_90b_iid_oracle.h"
#include "sp800_90b_sources.h"
#include "tools/sp800_90b/restart.h"

#include <gtest/gtest.h>

#include <cmath>
#include <regex>

namespace talvora::tools::sp800_90b::testing {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || !defined(NDEBUG)
constexpr bool SMALL_CASES_ONLY = true;
#else
constexpr bool SMALL_CASES_ONLY = false;
#endif

std::uint64_t printed_count(const ToolReport& tool, const std::string& label) {
    std::smatch match;
    const std::regex pattern(label + R"(: (\d+))");
    EXPECT_TRUE(std::regex_search(tool.output, match, pattern)) << tool.output;
    return match.empty() ? 0 : std::stoull(match[1]);
}

// The tool's printed estimator names and ours.
std::string our_name(const std::string& tool_name) {
    static const std::map<std::string, std::string> names{{"Most Common Value", "MCV"},
                                                          {"Collision", "Collision"},
                                                          {"Markov", "Markov"},
                                                          {"Compression", "Compression"},
                                                          {"t-Tuple", "t-Tuple"},
                                                          {"LRS", "LRS"},
                                                          {"MultiMCW Prediction", "MultiMCW"},
                                                          {"Lag Prediction", "Lag"},
                                                          {"MultiMMC Prediction", "MultiMMC"},
                                                          {"LZ78Y Prediction", "LZ78Y"}};
    return names.at(tool_name);
}

// Binary samples, the quickest whole run of the tool (half a minute, most of
// it simulating restarts for the cutoff).
TEST(RestartOracle, NonIidAssessmentMatches) {
    if (SMALL_CASES_ONLY) GTEST_SKIP() << "large oracle case in a slow build";
    const Samples data = biased_bits(1'000'000, 0.45, 6);
    const double h = 0.7;
    const ToolReport tool = run_tool("ea_restart", data, {"{}", "1", "0.7"});
    ASSERT_EQ(tool.exit_status, 0) << tool.output;
    WorkerPool pool(2);
    const RestartResult ours = restart(data, 1, h, {}, pool);
    ASSERT_TRUE(ours.sanity.passed);
    // The tool estimates the cutoff from random restarts, and for most
    // claims two neighbouring counts are both plausible outcomes.
    const auto cutoff = static_cast<std::int64_t>(printed_count(tool, "X_cutoff"));
    EXPECT_LE(std::abs(cutoff - static_cast<std::int64_t>(ours.sanity.cutoff)), 1);
    EXPECT_EQ(printed_count(tool, "X_max"), ours.sanity.max_count);
    EXPECT_NE(tool.output.find("Validation Test Passed"), std::string::npos);
    EXPECT_TRUE(ours.validated);

    // Each estimator prints its rows' estimate first, then its columns'.
    std::map<std::string, std::vector<double>> printed;
    const std::regex line(R"(Literal (.+) Estimate: min entropy = (\S+))");
    for (auto it = std::sregex_iterator(tool.output.begin(), tool.output.end(), line);
         it != std::sregex_iterator(); ++it)
        printed[our_name((*it)[1])].push_back(std::stod((*it)[2]));
    ASSERT_EQ(printed.size(), ours.rows->estimates.size());
    for (const auto* dataset : {&*ours.rows, &*ours.columns}) {
        const std::size_t index = dataset == &*ours.rows ? 0 : 1;
        for (const Estimate& e : dataset->estimates) {
            ASSERT_EQ(printed[e.name].size(), 2u) << e.name;
            const double tool_value = printed[e.name][index];
            EXPECT_NEAR(*e.min_entropy, tool_value, 2e-12 * tool_value) << e.name << " " << index;
        }
    }
    char assessed[32];
    std::snprintf(assessed, sizeof assessed, "%.6f", *ours.assessed);
    EXPECT_EQ(tool.at("min(H_r, H_c, H_I)"), assessed);
}

} // namespace
} // namespace talvora::tools::sp800_90b::testing
