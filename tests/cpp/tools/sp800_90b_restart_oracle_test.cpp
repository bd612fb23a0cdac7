// tests/cpp/tools/sp800_90b_restart_oracle_test.cpp: the restart tests
// against the reference tool: the sanity check and a whole non-IID
// assessment of rows and columns.
#include "sp800_90b_agreement.h"
#include "sp800_90b_iid_oracle.h"
#include "sp800_90b_sources.h"
#include "tools/sp800_90b/restart.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <regex>

namespace talvora::tools::sp800_90b::testing {
namespace {

std::uint64_t printed_count(const ToolReport& tool, const std::string& label) {
    std::smatch match;
    const std::regex pattern(label + R"(: (\d+))");
    EXPECT_TRUE(std::regex_search(tool.output, match, pattern)) << tool.output;
    return match.empty() ? 0 : std::stoull(match[1]);
}

// Binary samples, the quickest whole run of the tool (half a minute, most of
// it simulating restarts for the cutoff).
TEST(RestartOracle, NonIidAssessmentMatches) {
    if (SLOW_BUILD) GTEST_SKIP() << "large oracle case in a slow build";
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

    // Each estimator prints its rows' estimate first, then its columns', in
    // the order of ours.
    std::vector<std::string> order;
    std::map<std::string, std::vector<std::string>> printed;
    const std::regex line(R"(Literal (.+) Estimate: min entropy = (\S+))");
    for (auto it = std::sregex_iterator(tool.output.begin(), tool.output.end(), line);
         it != std::sregex_iterator(); ++it) {
        if (!printed.count((*it)[1])) order.push_back((*it)[1]);
        printed[(*it)[1]].push_back((*it)[2]);
    }
    ASSERT_EQ(order.size(), ours.rows->estimates.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        ASSERT_EQ(printed[order[i]].size(), 2u) << order[i];
        for (const auto& [dataset, at] : {std::pair{&*ours.rows, 0}, std::pair{&*ours.columns, 1}})
            expect_close("restart " + dataset->estimates[i].name,
                         *dataset->estimates[i].min_entropy, printed[order[i]][at], 2e-12);
    }
    char assessed[32];
    std::snprintf(assessed, sizeof assessed, "%.6f", *ours.assessed);
    EXPECT_EQ(tool.at("min(H_r, H_c, H_I)"), assessed);
}

} // namespace
} // namespace talvora::tools::sp800_90b::testing
