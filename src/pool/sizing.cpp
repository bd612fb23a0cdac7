// src/pool/sizing.cpp: the worker count from the environment, the affinity
// mask and the online processors.
#include "pool/sizing.h"

#include <algorithm>
#include <cstdlib>
#include <sched.h>
#include <unistd.h>

namespace talvora {

std::optional<std::uint64_t> parse_valid_count(std::string_view text) noexcept {
    if (text.starts_with('+')) text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::optional<std::size_t> available_parallelism(const SizingInputs& inputs) {
    const std::uint64_t quota = cgroup_cpu_quota(inputs).value_or(UINT64_MAX);
    if (const std::optional<std::size_t> in_mask = inputs.affinity_count())
        return static_cast<std::size_t>(std::min<std::uint64_t>(*in_mask, quota));
    const long online = inputs.online_processors();
    if (online == -1 || online == 0) return std::nullopt;
    return static_cast<std::size_t>(std::min(static_cast<std::uint64_t>(online), quota));
}

std::size_t determine_worker_count(const SizingInputs& inputs) {
    auto count_from = [&](const char* name) -> std::optional<std::uint64_t> {
        const std::optional<std::string> value = inputs.environment(name);
        return value ? parse_valid_count(*value) : std::nullopt;
    };
    std::optional<std::uint64_t> count = count_from("RAYON_NUM_THREADS");
    if (!count) count = count_from("RAYON_RS_NUM_CPUS");
    // An explicit 0 asks for the available parallelism, like no setting at all.
    if (!count || *count == 0) count = available_parallelism(inputs).value_or(1);
    return static_cast<std::size_t>(std::min<std::uint64_t>(*count, MAX_WORKER_COUNT));
}

SizingInputs SizingInputs::of_this_process() {
    SizingInputs inputs;
    inputs.environment = [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        if (!value) return std::nullopt;
        return std::string(value);
    };
    inputs.affinity_count = []() -> std::optional<std::size_t> {
        // cpu_set_t is a 128-byte mask: processors 0 to 1023.
        cpu_set_t mask;
        CPU_ZERO(&mask);
        if (sched_getaffinity(0, sizeof mask, &mask) != 0) return std::nullopt;
        const int count = CPU_COUNT(&mask);
        if (count <= 0) return std::nullopt;
        return static_cast<std::size_t>(count);
    };
    inputs.online_processors = [] { return sysconf(_SC_NPROCESSORS_ONLN); };
    return inputs;
}

} // namespace talvora
