// bench/bench_parallel.cpp: 64 MiB counted on the calling thread and on the
// process-wide pool, in one run; the ratio of the two is the speed-up.
#include "entropy/entropy.h"
#include "pool/pool.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

const std::vector<std::uint8_t>& input() {
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> b(std::size_t{64} << 20);
        std::mt19937_64 rng(42);
        for (auto& byte : b)
            byte = static_cast<std::uint8_t>(rng());
        return b;
    }();
    return bytes;
}

template <talvora::ByteHistogram (*Count)(talvora::ByteView)>
void BM_count(benchmark::State& state) {
    const auto& bytes = input();
    talvora::worker_count(); // the pool's creation is not what is measured
    for (auto _ : state) {
        auto histogram = Count(bytes);
        benchmark::DoNotOptimize(histogram);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
    state.counters["workers"] = static_cast<double>(talvora::worker_count());
}

// Wall time: the parallel count's work happens on other threads.
BENCHMARK(BM_count<talvora::count_bytes_sequential>)->Name("sequential_64MiB")->UseRealTime();
BENCHMARK(BM_count<talvora::count_bytes_parallel>)->Name("parallel_64MiB")->UseRealTime();

} // namespace

BENCHMARK_MAIN();
