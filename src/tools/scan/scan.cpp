// src/tools/scan/scan.cpp: where a scan's windows lie, and the scan of a run
// of bytes held whole in memory.
#include "tools/scan/scan.h"

#include "tools/scan/full_windows.h"

#include <algorithm>
#include <stdexcept>

namespace talvora::tools {

void check_shape(ScanShape shape) {
    if (shape.window == 0) throw std::invalid_argument("window must be a positive integer");
    if (shape.step == 0) throw std::invalid_argument("step must be a positive integer");
}

void check_options(const ScanOptions& options) {
    if (!lane_path_supported(options.path))
        throw std::invalid_argument("the scan's lane path is not supported on this machine");
}

std::uint64_t window_count(std::uint64_t n, ScanShape shape) {
    check_shape(shape);
    if (n == 0) return 0;
    if (shape.window >= n) return 1;
    // Windows up to the first that reaches the end, k * step + window >= n,
    // and none starting at or past the end (when step > window).
    const std::uint64_t up_to_end = (n - shape.window - 1) / shape.step + 2;
    const std::uint64_t starts_inside = (n - 1) / shape.step + 1;
    return std::min(up_to_end, starts_inside);
}

ScanOutput ScanColumns::extend(std::size_t more) {
    const std::size_t first = size();
    offsets.resize(first + more);
    lengths.resize(first + more);
    shannon.resize(first + more);
    min_entropy.resize(first + more);
    chi_square.resize(first + more);
    return ScanOutput{offsets.data(), lengths.data(), shannon.data(), min_entropy.data(),
                      chi_square.data()}
        .from(first);
}

void ScanColumns::append(const ScanColumns& other) {
    const ScanOutput out = extend(other.size());
    std::copy(other.offsets.begin(), other.offsets.end(), out.offsets);
    std::copy(other.lengths.begin(), other.lengths.end(), out.lengths);
    std::copy(other.shannon.begin(), other.shannon.end(), out.shannon);
    std::copy(other.min_entropy.begin(), other.min_entropy.end(), out.min_entropy);
    std::copy(other.chi_square.begin(), other.chi_square.end(), out.chi_square);
}

void scan_into(ByteView bytes, ScanShape shape, std::uint64_t origin, const ScanOutput& out,
               WorkerPool& pool, const ScanOptions& options) {
    check_options(options);
    const std::uint64_t n = bytes.size();
    const std::uint64_t count = window_count(n, shape);
    for (std::uint64_t k = 0; k < count; ++k) {
        const std::uint64_t start = k * shape.step;
        out.offsets[k] = origin + start;
        out.lengths[k] = std::min(shape.window, n - start);
    }
    if (count == 0) return;
    const std::uint64_t full = out.lengths[count - 1] == shape.window ? count : count - 1;
    if (full > 0) {
        const WindowTerms terms(shape.window);
        scan_full_windows(bytes.data(), full, shape, terms,
                          {out.shannon, out.min_entropy, out.chi_square}, pool, options);
    }
    if (full < count) {
        const ScanOutput last = out.from(count - 1);
        scan_one_window(bytes.subspan(full * shape.step),
                        {last.shannon, last.min_entropy, last.chi_square}, pool);
    }
}

ScanColumns scan(ByteView bytes, ScanShape shape, WorkerPool& pool, const ScanOptions& options) {
    ScanColumns columns;
    scan_into(bytes, shape, 0, columns.extend(window_count(bytes.size(), shape)), pool, options);
    return columns;
}

} // namespace talvora::tools
