// bench/bench_sp800_90b_run.cpp: one whole assessment as a process, for
// bench_sp800_90b.py to time against the reference tool's: the file read,
// the non-IID or IID assessment, the assessed values and the verdict printed.
//
// Usage: bench_sp800_90b_run (non_iid | iid) FILE BITS [-c] [--seed N]
//   -c        conditioned data (non_iid only): assessed as a bitstring
//   --seed N  the permutation test's seed (iid; default 1, so runs repeat)
#include "tools/sp800_90b/iid.h"
#include "tools/sp800_90b/non_iid.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sp = talvora::tools::sp800_90b;

namespace {

[[noreturn]] void usage() {
    std::fputs("usage: bench_sp800_90b_run (non_iid | iid) FILE BITS [-c] [--seed N]\n", stderr);
    std::exit(2);
}

std::vector<std::uint8_t> read_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(std::string("cannot open ") + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// %.17g: enough digits that the value read back is the same double.
void print_value(const char* name, std::optional<double> value) {
    if (value) std::printf("%s = %.17g\n", name, *value);
}

void run_non_iid(const std::vector<std::uint8_t>& samples, unsigned bits, bool conditioned) {
    const sp::NonIidResult result = sp::non_iid(samples, bits, conditioned);
    print_value("h_original", result.h_original);
    print_value("h_bitstring", result.h_bitstring);
    print_value("assessed", result.assessed);
}

void run_iid(const std::vector<std::uint8_t>& samples, unsigned bits, std::uint64_t seed) {
    sp::IidOptions options;
    options.seed = seed;
    const sp::IidResult result = sp::iid(samples, bits, options);
    print_value("h_original", result.h_original);
    print_value("h_bitstring", result.h_bitstring);
    print_value("assessed", result.assessed);
    if (result.tests) {
        const sp::IidTests& tests = *result.tests;
        std::printf("chi_square_passed = %d\nlrs_passed = %d\npermutation_passed = %d\n",
                    tests.chi_square_passed(), tests.lrs.passed, tests.permutation.passed);
        std::printf("permutations = %zu\ncompression_needed = %d\n", tests.permutation.permutations,
                    tests.permutation.compression_needed);
        for (const sp::PermutationStatisticResult& statistic : tests.permutation.statistics)
            if (!statistic.passed)
                std::printf("decided_without = %.*s\n", static_cast<int>(statistic.name.size()),
                            statistic.name.data());
    }
    std::printf("verdict = %s\n", result.is_iid ? "IID" : "not IID");
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) usage();
    const std::string_view mode = argv[1];
    const char* path = argv[2];
    const unsigned bits = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10));
    bool conditioned = false;
    std::uint64_t seed = 1;
    for (int i = 4; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "-c")
            conditioned = true;
        else if (option == "--seed" && i + 1 < argc)
            seed = std::strtoull(argv[++i], nullptr, 10);
        else
            usage();
    }
    try {
        const std::vector<std::uint8_t> samples = read_file(path);
        if (mode == "non_iid")
            run_non_iid(samples, bits, conditioned);
        else if (mode == "iid" && !conditioned)
            run_iid(samples, bits, seed);
        else
            usage();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_sp800_90b_run: %s\n", error.what());
        return 1;
    }
    return 0;
}
