// bench/kernel_shim.cpp: the bare C++ counters, for the Python benchmark to
// call through ctypes next to the module: one thread, and two hand-split
// threads (the practical limit of this machine).
#include "entropy/entropy.h"

#include <thread>

extern "C" __attribute__((visibility("default"))) double
talvora_bench_kernel_entropy(const std::uint8_t* data, std::size_t len, unsigned threads) {
    using namespace talvora;
    if (len == 0) return 0.0;
    if (threads < 2) return histogram_entropy(count_bytes_sequential({data, len}), len);
    const std::size_t half = len / 2;
    ByteHistogram upper;
    std::thread helper([&] { upper = count_bytes_sequential({data + half, len - half}); });
    ByteHistogram lower = count_bytes_sequential({data, half});
    helper.join();
    lower += upper;
    return histogram_entropy(lower, len);
}
