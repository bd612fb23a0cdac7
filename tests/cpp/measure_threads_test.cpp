// tests/cpp/measure_threads_test.cpp: measure_data called from several
// threads at once on shared inputs that other threads change meanwhile; run
// under ThreadSanitizer, it checks what the module shares between threads
// (caches, error values, queued releases, inputs read in place by the pool).
#include "module/convert_data.h"

#include <gtest/gtest.h>

#include <cmath>

#include "python_fixture.h"

namespace talvora {
namespace {

using testing::on_threads;
using testing::PythonTest;
using testing::run_python;

// The number of bytes counted, which reads every one (on the pool for long
// inputs), or -1 if the counts do not add up.
double counted(ByteView bytes) {
    const ByteHistogram histogram = count_bytes(bytes);
    std::uint64_t total = 0;
    for (const std::uint64_t count : histogram.counts)
        total += count;
    return total == bytes.size() ? static_cast<double>(total) : -1.0;
}

using MeasureThreadsTest = PythonTest;

TEST_F(MeasureThreadsTest, SharedInputsChangedByOtherThreads) {
    // Long enough to be counted on the pool, read in place.
    PyRef inputs = run_python(R"(
import array, os
blob = os.urandom(1 << 20)
shared = bytearray(blob)
items = list(range(256)) * 64
class Shrinks:
    def __index__(self):
        del items[-64:]
        return 1
def change(turn):
    shared[:] = blob[: (turn * 7919) % len(blob) + 300_000]
    items[:] = list(range(256)) * 64 + [Shrinks()] + [7] * 128
result = (shared, memoryview(blob), array.array("B", blob), blob, items, 5, change)
)");
    ASSERT_TRUE(inputs);
    constexpr int THREADS = 6, ROUNDS = 40;
    std::atomic<int> failures{0};
    on_threads(THREADS, [&](int thread) {
        for (int round = 0; round < ROUNDS; ++round) {
            EntryScope entry;
            const int which = (thread + round) % 7;
            if (which == 6) {
                PyRef done = PyRef::steal(PyObject_CallFunction(PyTuple_GET_ITEM(inputs.get(), 6),
                                                                "i", thread * ROUNDS + round));
                failures += !done;
                PyErr_Clear();
            } else {
                PyResult<double> size =
                    measure_data(PyTuple_GET_ITEM(inputs.get(), which), counted);
                // Everything but the int converts; the list may shrink under it.
                const bool converts = which != 5;
                failures += size.ok() != converts;
                if (size.ok()) failures += !(size.value() > 0 && std::isfinite(size.value()));
            }
            // Lets the other threads in between rounds.
            const Detachment detachment = detach();
            reattach(detachment);
        }
    });
    EXPECT_EQ(failures, 0);
}

} // namespace
} // namespace talvora
