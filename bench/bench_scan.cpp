// bench/bench_scan.cpp: windowed scans against counting the same bytes, in
// one run: 64 MiB in 4 KiB windows side by side (the scan should keep at
// least half the counter's speed), and a sliding scan, window 4096 and step
// 16 over 16 MiB, on the pool and on one thread for each lane path.
#include "entropy/parallel_histogram.h"
#include "pool/pool.h"
#include "tools/scan/scan.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

using talvora::tools::LanePath;
using talvora::tools::ScanColumns;
using talvora::tools::ScanShape;

constexpr std::size_t LARGEST = std::size_t{64} << 20;

talvora::ByteView random_bytes(std::size_t len) {
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> b(LARGEST);
        std::mt19937_64 rng(42);
        for (auto& byte : b)
            byte = static_cast<std::uint8_t>(rng());
        return b;
    }();
    return talvora::ByteView(bytes).first(len);
}

talvora::WorkerPool& one_worker() {
    static talvora::WorkerPool pool(1);
    return pool;
}

void BM_count_64MiB(benchmark::State& state) {
    const talvora::ByteView bytes = random_bytes(LARGEST);
    talvora::WorkerPool& pool = talvora::global_pool();
    for (auto _ : state) {
        auto histogram = talvora::count_bytes_parallel(bytes, pool);
        benchmark::DoNotOptimize(histogram);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * LARGEST));
}

// args: len, window, step, workers (0: the process-wide pool), lane path.
void BM_scan(benchmark::State& state) {
    const talvora::ByteView bytes = random_bytes(static_cast<std::size_t>(state.range(0)));
    const ScanShape shape{static_cast<std::uint64_t>(state.range(1)),
                          static_cast<std::uint64_t>(state.range(2))};
    talvora::WorkerPool& pool = state.range(3) == 0 ? talvora::global_pool() : one_worker();
    const talvora::tools::ScanOptions options{static_cast<LanePath>(state.range(4)), 0};
    if (!talvora::tools::lane_path_supported(options.path)) {
        state.SkipWithError("lane path not supported here");
        return;
    }
    std::uint64_t windows = 0;
    for (auto _ : state) {
        ScanColumns columns = talvora::tools::scan(bytes, shape, pool, options);
        windows = columns.size();
        benchmark::DoNotOptimize(columns);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
    state.counters["windows/s"] = benchmark::Counter(
        static_cast<double>(windows * state.iterations()), benchmark::Counter::kIsRate);
    state.counters["workers"] = static_cast<double>(pool.worker_count());
}

constexpr auto AVX512 = static_cast<std::int64_t>(LanePath::Avx512);
constexpr auto AVX2 = static_cast<std::int64_t>(LanePath::Avx2);
constexpr auto SCALAR = static_cast<std::int64_t>(LanePath::Scalar);
const std::int64_t BEST = static_cast<std::int64_t>(talvora::tools::best_lane_path());

// Wall time: the work happens on the pool's threads.
BENCHMARK(BM_count_64MiB)->Name("count_64MiB")->UseRealTime();
BENCHMARK(BM_scan)
    ->Name("scan_64MiB_4096")
    ->Args({64 << 20, 4096, 4096, 0, BEST})
    ->ArgNames({"len", "window", "step", "workers", "path"})
    ->UseRealTime();
BENCHMARK(BM_scan)
    ->Name("scan_16MiB_sliding")
    ->Args({16 << 20, 4096, 16, 0, BEST})
    ->Args({16 << 20, 4096, 16, 1, SCALAR})
    ->Args({16 << 20, 4096, 16, 1, AVX2})
    ->Args({16 << 20, 4096, 16, 1, AVX512})
    ->ArgNames({"len", "window", "step", "workers", "path"})
    ->UseRealTime();
// Around the choice between moving the counts and counting each window.
BENCHMARK(BM_scan)
    ->Name("scan_4MiB_steps")
    ->ArgsProduct({{4 << 20}, {4096}, {64, 128, 256, 512, 1024}, {1}, {BEST}})
    ->ArgNames({"len", "window", "step", "workers", "path"})
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
