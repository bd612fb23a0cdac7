// src/tools/scan/lanes_scalar.cpp: the full-window kernel on the baseline
// instruction set, one lane at a time.
#include "tools/scan/full_windows.h"

#include "tools/scan/lane_kernel.h"

namespace talvora::tools {
namespace {

struct ScalarLanes {
    struct From {
        explicit From(std::size_t lane) : lane(lane) {}
        void fill(double* row, double value) const {
            for (std::size_t l = lane; l < LANES; ++l)
                row[l] = value;
        }
        std::size_t lane;
    };

    static void sum(LaneRows& rows, double* sums, bool spread) {
        double acc[LANES];
        for (double& a : acc)
            a = -0.0;
        for (auto& row : rows.row) {
            for (std::size_t l = 0; l < LANES; ++l)
                acc[l] = acc[l] - row[l];
            if (spread) From(0).fill(row, row[LANES - 1]);
        }
        for (std::size_t l = 0; l < LANES; ++l)
            sums[l] = acc[l];
    }

    static std::uint64_t max_count(const std::uint64_t* counts) {
        std::uint64_t most[4] = {};
        for (std::size_t b = 0; b < 256; b += 4)
            for (std::size_t k = 0; k < 4; ++k)
                most[k] = counts[b + k] > most[k] ? counts[b + k] : most[k];
        return largest_of_four(most);
    }
};

} // namespace

void run_full_windows_scalar(const FullWindowRun& run) {
    run_windows<ScalarLanes>(run);
}

} // namespace talvora::tools
