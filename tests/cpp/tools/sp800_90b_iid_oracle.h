// tests/cpp/tools/sp800_90b_iid_oracle.h: the reference tool's IID and
// restart programs as black-box oracles: run on a file of samples, their
// most detailed printout read back as labelled values.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace talvora::tools::sp800_90b::testing {

// A permutation test counter row: statistic name and C0, C1, C2.
struct OracleCounts {
    std::string name;
    std::uint64_t greater = 0, equal = 0, less = 0;
};

struct ToolReport {
    int exit_status = 0;
    std::string output;
    // "LABEL = VALUE" and "LABEL: VALUE" lines, by label (the last wins).
    std::map<std::string, std::string> values;
    std::vector<OracleCounts> counts;

    // The value of label; the test fails (and "" is returned) if absent.
    std::string at(const std::string& label) const;
    bool has(const std::string& label) const { return values.count(label) != 0; }
};

// Runs `program -vv ARGS...` with the samples' file in place of "{}" among
// the arguments.
ToolReport run_tool(const std::string& program, const std::vector<std::uint8_t>& samples,
                    const std::vector<std::string>& args);

} // namespace talvora::tools::sp800_90b::testing
