// bench/bench_stream.cpp: the stream part (counts and every sum a report
// needs) against talvora's plain count on the same 64 MiB, on the calling
// thread and on the process-wide pool, in one run: the ratios are what
// matter. Each kernel the machine supports is measured on its own too.
#include "tools/stream/kernel.h"
#include "tools/stream/report.h"

#include "entropy/parallel_histogram.h"
#include "pool/pool.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using talvora::ByteView;

constexpr std::size_t LEN = std::size_t{64} << 20;

enum class Shape { Random, OneValue, Text };

ByteView input(Shape shape) {
    static std::vector<std::uint8_t> made[3];
    std::vector<std::uint8_t>& bytes = made[static_cast<int>(shape)];
    if (bytes.empty()) {
        bytes.resize(LEN);
        std::mt19937_64 rng(7);
        for (auto& b : bytes)
            b = shape == Shape::Random     ? static_cast<std::uint8_t>(rng())
                : shape == Shape::OneValue ? 0xff
                                           : static_cast<std::uint8_t>(' ' + rng() % 64);
    }
    return bytes;
}

template <class Run> void measure(benchmark::State& state, Run run) {
    const ByteView bytes = input(Shape(state.range(0)));
    talvora::global_pool().worker_count(); // the pool's creation is not what is measured
    for (auto _ : state) {
        auto result = run(bytes);
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * LEN));
}

void count_sequential(benchmark::State& state) {
    measure(state, [](ByteView b) { return talvora::count_bytes_sequential(b); });
}
void summarize_sequential(benchmark::State& state) {
    measure(state, [](ByteView b) { return talvora::tools::summarize(b); });
}
void count_parallel(benchmark::State& state) {
    measure(state,
            [](ByteView b) { return talvora::count_bytes_parallel(b, talvora::global_pool()); });
}
void summarize_parallel(benchmark::State& state) {
    measure(state, [](ByteView b) {
        return talvora::tools::summarize_parallel(b, talvora::global_pool());
    });
}
void report_parallel(benchmark::State& state) {
    measure(state, [](ByteView b) {
        return talvora::tools::make_report(
            talvora::tools::summarize_parallel(b, talvora::global_pool()));
    });
}

// Wall time, as the pool's work happens on other threads; on a shared
// machine the fastest of the repetitions is the one to compare.
void shapes(benchmark::internal::Benchmark* b) {
    b->Arg(0)->Arg(1)->Arg(2)->ArgName("shape")->UseRealTime();
    b->ComputeStatistics(
        "min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
}

BENCHMARK(count_sequential)->Apply(shapes);
BENCHMARK(summarize_sequential)->Apply(shapes);
BENCHMARK(count_parallel)->Apply(shapes);
BENCHMARK(summarize_parallel)->Apply(shapes);
BENCHMARK(report_parallel)->Apply(shapes);

// Every kernel on this machine, on the calling thread.
const bool kernels_registered = [] {
    for (const talvora::tools::Kernel* kernel : talvora::tools::all_kernels()) {
        if (!kernel->supported()) continue;
        benchmark::RegisterBenchmark((std::string("kernel/") + kernel->name).c_str(),
                                     [kernel](benchmark::State& state) {
                                         measure(state, [kernel](ByteView b) {
                                             return talvora::tools::summarize_with(*kernel, b);
                                         });
                                     })
            ->Apply(shapes);
    }
    return true;
}();

} // namespace

BENCHMARK_MAIN();
