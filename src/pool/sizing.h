// src/pool/sizing.h: how many workers the pool gets, from the environment
// or from the processors this process may use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace talvora {

inline constexpr std::size_t MAX_WORKER_COUNT = 65'535;

// Everything the sizing reads from the outside world, so tests can fake it.
struct SizingInputs {
    // The value of an environment variable, or nothing when it is unset.
    std::function<std::optional<std::string>(const char* name)> environment;
    std::string proc_self_cgroup = "/proc/self/cgroup";
    std::string proc_self_mountinfo = "/proc/self/mountinfo";
    std::string sys_fs_cgroup = "/sys/fs/cgroup";
    // Processors in the affinity mask; nothing when it cannot be read or is empty.
    std::function<std::optional<std::size_t>()> affinity_count;
    // sysconf(_SC_NPROCESSORS_ONLN): -1 or 0 when unknown.
    std::function<long()> online_processors;

    static SizingInputs of_this_process();
};

// The "valid count" of an environment variable: an optional '+' and one or
// more ASCII digits, nothing else, fitting in 64 bits.
std::optional<std::uint64_t> parse_valid_count(std::string_view text) noexcept;

// The CPU quota of the process's control group, rounded down and at least 1;
// nothing when no group sets one.
std::optional<std::uint64_t> cgroup_cpu_quota(const SizingInputs& inputs);

// min(affinity mask or online processors, quota); nothing when unknown.
std::optional<std::size_t> available_parallelism(const SizingInputs& inputs);

// RAYON_NUM_THREADS, then RAYON_RS_NUM_CPUS, then the available parallelism
// (1 when unknown), capped at MAX_WORKER_COUNT.
std::size_t determine_worker_count(const SizingInputs& inputs);

} // namespace talvora
