// tests/cpp/tools/sp800_90b_oracle.h: NIST's SP 800-90B reference tool as a
// black-box oracle: run on a file of samples, its most detailed printout
// read back into numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace talvora::tools::sp800_90b::testing {

// One estimator's printed lines on one form.
struct OracleEstimate {
    std::string form;      // "literal" or "bitstring"
    std::string estimator; // our name: "MCV", "Collision", ..., "LZ78Y"
    std::vector<std::pair<std::string, std::string>> values; // label, printed number
    std::vector<std::string> messages;                       // lines without a number
};

struct OracleReport {
    int exit_status = 0;
    std::string output;
    std::vector<OracleEstimate> estimates;
    std::optional<std::string> h_bitstring, h_original, assessed;

    const OracleEstimate* find(const std::string& form, const std::string& estimator) const;
};

// Runs `ea_non_iid -vv [-c] FILE bits` on the samples.
OracleReport run_ea_non_iid(const std::vector<std::uint8_t>& samples, unsigned bits,
                            bool conditioned);

} // namespace talvora::tools::sp800_90b::testing
