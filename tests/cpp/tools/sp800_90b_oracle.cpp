// tests/cpp/tools/sp800_90b_oracle.cpp: running ea_non_iid on a temporary
// file and parsing its printout.
#include "sp800_90b_oracle.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace talvora::tools::sp800_90b::testing {

namespace {

// The tool's estimator labels and our names.
const std::map<std::string, std::string>& estimator_names() {
    static const std::map<std::string, std::string> names{
        {"Most Common Value", "MCV"},
        {"Collision", "Collision"},
        {"Markov", "Markov"},
        {"Compression", "Compression"},
        {"t-Tuple", "t-Tuple"},
        {"LRS", "LRS"},
        {"MultiMCW Prediction", "MultiMCW"},
        {"Lag Prediction", "Lag"},
        {"MultiMMC Prediction", "MultiMMC"},
        {"LZ78Y Prediction", "LZ78Y"},
    };
    return names;
}

class TempFile {
  public:
    explicit TempFile(const std::vector<std::uint8_t>& bytes) {
        char pattern[] = "/tmp/talvora-90b-XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd < 0) throw std::runtime_error("mkstemp failed");
        close(fd);
        path_ = pattern;
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    ~TempFile() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

void parse(OracleReport& report) {
    static const std::regex estimate_line(R"(^(Bitstring|Literal) (.+) Estimate: (.+)$)");
    static const std::regex value_text(R"(^(.+) = (\S+)$)");
    static const std::regex final_line(
        R"(^(H_bitstring|H_original|Assessed min entropy)(?: =|:) (\S+)$)");
    std::istringstream lines(report.output);
    std::string line;
    while (std::getline(lines, line)) {
        std::smatch match;
        if (std::regex_match(line, match, estimate_line)) {
            const std::string form = match[1] == "Bitstring" ? "bitstring" : "literal";
            const auto name = estimator_names().find(match[2]);
            if (name == estimator_names().end())
                throw std::runtime_error("unknown estimator in: " + line);
            OracleEstimate* estimate = nullptr;
            for (OracleEstimate& e : report.estimates)
                if (e.form == form && e.estimator == name->second) estimate = &e;
            if (estimate == nullptr)
                estimate =
                    &report.estimates.emplace_back(OracleEstimate{form, name->second, {}, {}});
            const std::string rest = match[3];
            if (std::regex_match(rest, match, value_text))
                estimate->values.emplace_back(match[1], match[2]);
            else
                estimate->messages.push_back(rest);
        } else if (std::regex_match(line, match, final_line)) {
            (match[1] == "H_bitstring"  ? report.h_bitstring
             : match[1] == "H_original" ? report.h_original
                                        : report.assessed) = match[2];
        }
    }
}

} // namespace

const OracleEstimate* OracleReport::find(const std::string& form,
                                         const std::string& estimator) const {
    for (const OracleEstimate& e : estimates)
        if (e.form == form && e.estimator == estimator) return &e;
    return nullptr;
}

OracleReport run_ea_non_iid(const std::vector<std::uint8_t>& samples, unsigned bits,
                            bool conditioned) {
    const TempFile file(samples);
    const std::string command = std::string("ea_non_iid -vv ") + (conditioned ? "-c " : "") +
                                file.path() + " " + std::to_string(bits) + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
    OracleReport report;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        report.output.append(buffer, got);
    const int status = pclose(pipe);
    report.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    parse(report);
    return report;
}

} // namespace talvora::tools::sp800_90b::testing
