// bench/bench_counting.cpp: the byte counter against a one-table loop, and
// its sub-table kernel on its own.
#include "entropy/entropy.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

enum class Shape { Random, OneValue, Skewed };

const std::vector<std::uint8_t>& input(std::size_t len, Shape shape) {
    static std::vector<std::uint8_t> bytes;
    bytes.assign(len, 0);
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
    return bytes;
}

template <talvora::ByteHistogram (*Count)(talvora::ByteView)>
void BM_count(benchmark::State& state) {
    const auto& bytes = input(static_cast<std::size_t>(state.range(0)), Shape(state.range(1)));
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

} // namespace

BENCHMARK_MAIN();
