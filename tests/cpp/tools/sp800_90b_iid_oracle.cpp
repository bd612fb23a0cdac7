// tests/cpp/tools/sp800_90b_iid_oracle.cpp: running the reference tool on a
// temporary file and reading its printout.
#include "sp800_90b_iid_oracle.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace talvora::tools::sp800_90b::testing {

std::string ToolReport::at(const std::string& label) const {
    const auto found = values.find(label);
    EXPECT_NE(found, values.end()) << "the tool printed no " << label << "\n" << output;
    return found == values.end() ? "" : found->second;
}

ToolReport run_tool(const std::string& program, const std::vector<std::uint8_t>& samples,
                    const std::vector<std::string>& args) {
    char path[] = "/tmp/talvora-90b-iid-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    close(fd);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(samples.data()),
               static_cast<std::streamsize>(samples.size()));
    std::string command = program + " -vv";
    for (const std::string& arg : args)
        command += " " + (arg == "{}" ? std::string(path) : arg);
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    ToolReport report;
    if (pipe != nullptr) {
        char buffer[4096];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            report.output.append(buffer, got);
        const int status = pclose(pipe);
        report.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::remove(path);
    if (pipe == nullptr) throw std::runtime_error("cannot run " + command);

    static const std::regex labelled(R"(^(.*\S)(?: =|:) (\S+)$)");
    static const std::regex counter(R"(^\s*(\S+?)\*?\s+(\d+)\s+(\d+)\s+(\d+)$)");
    std::istringstream lines(report.output);
    std::string line;
    std::smatch match;
    while (std::getline(lines, line))
        if (std::regex_match(line, match, counter))
            report.counts.push_back(
                {match[1], std::stoull(match[2]), std::stoull(match[3]), std::stoull(match[4])});
        else if (std::regex_match(line, match, labelled))
            report.values[match[1]] = match[2];
    return report;
}

} // namespace talvora::tools::sp800_90b::testing
