// bench/bench_counting.cpp: the byte counter against a one-table loop, and
// its sub-table kernel on its own; then 64 MiB counted on the calling thread
// and on the process-wide pool, in one run (the ratio of the two is the
// speed-up).
#include "entropy/entropy.h"
#include "pool/pool.h"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <random>
#include <vector>

namespace {

enum class Shape { Random, OneValue, Skewed };

constexpr std::size_t LARGEST = std::size_t{64} << 20;

// The first len bytes of 64 MiB of one shape, made on first use and kept, so
// that no run refills them.
talvora::ByteView input(std::size_t len, Shape shape) {
    static std::vector<std::uint8_t> made[3];
    std::vector<std::uint8_t>& bytes = made[static_cast<int>(shape)];
    if (bytes.empty()) {
        bytes.resize(LARGEST);
        std::mt19937_64 rng(42);
        for (auto& b : bytes) {
            switch (shape) {
            case Shape::Random:
                b = static_cast<std::uint8_t>(rng());
                break;
            case Shape::OneValue:
                b = 'x';
                break;
            case Shape::Skewed:
                b = static_cast<std::uint8_t>(rng() % 8 ? ' ' + rng() % 4 : rng());
                break;
            }
        }
    }
    return talvora::ByteView(bytes).first(len);
}

template <talvora::ByteHistogram (*Count)(talvora::ByteView)>
void BM_count(benchmark::State& state) {
    const talvora::ByteView bytes =
        input(static_cast<std::size_t>(state.range(0)), Shape(state.range(1)));
    for (auto _ : state) {
        auto histogram = Count(bytes);
        benchmark::DoNotOptimize(histogram);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void shapes(benchmark::internal::Benchmark* b) {
    for (std::int64_t len : {1, 1 << 10, 4 << 10, 1 << 20, 64 << 20})
        for (std::int64_t shape : {0, 1, 2})
            b->Args({len, shape});
    b->ArgNames({"len", "shape"});
}

BENCHMARK(BM_count<talvora::count_bytes_naive>)->Name("naive")->Apply(shapes);
BENCHMARK(BM_count<talvora::count_bytes_sub_tables>)->Name("sub_tables")->Apply(shapes);
BENCHMARK(BM_count<talvora::count_bytes_sequential>)->Name("sequential")->Apply(shapes);

// 64 MiB of random bytes on the calling thread and on the pool.
template <talvora::ByteHistogram (*Count)(talvora::ByteView)>
void BM_count_64MiB(benchmark::State& state) {
    const talvora::ByteView bytes = input(LARGEST, Shape::Random);
    talvora::global_pool(); // the pool's creation is not what is measured
    for (auto _ : state) {
        auto histogram = Count(bytes);
        benchmark::DoNotOptimize(histogram);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * LARGEST));
    state.counters["workers"] = static_cast<double>(talvora::global_pool().worker_count());
}

// Wall time: the parallel count's work happens on other threads.
BENCHMARK(BM_count_64MiB<talvora::count_bytes_sequential>)->Name("sequential_64MiB")->UseRealTime();
BENCHMARK(BM_count_64MiB<talvora::count_bytes_parallel>)->Name("parallel_64MiB")->UseRealTime();

} // namespace

BENCHMARK_MAIN();
