// src/tools/scan/scanner.cpp: a scan fed block by block. Windows that lie in
// one block are scanned in place; those cut by a seam between blocks are
// scanned over the kept bytes joined to the head of the next block.
#include "tools/scan/scanner.h"

#include "tools/scan/full_windows.h"

#include <algorithm>
#include <stdexcept>

namespace talvora::tools {
namespace {

constexpr std::uint64_t NO_OFFSET = std::numeric_limits<std::uint64_t>::max();

// start + k * step, or NO_OFFSET past the largest offset.
std::uint64_t advance(std::uint64_t start, std::uint64_t k, std::uint64_t step) {
    if (k != 0 && step > (NO_OFFSET - start) / k) return NO_OFFSET;
    return start + k * step;
}

ScanSpan checked(ScanShape shape, ScanSpan span, const ScanOptions& options) {
    check_shape(shape);
    check_options(options);
    if (span.begin < span.origin)
        throw std::invalid_argument("a scan span cannot begin before its origin");
    return span;
}

} // namespace

Scanner::Scanner(ScanShape shape, ScanSpan span, ScanOptions options)
    : shape_(shape), span_(checked(shape, span, options)), options_(options), terms_(shape.window),
      position_(span.begin),
      next_start_(advance(span.origin, (span.begin - span.origin + shape.step - 1) / shape.step,
                          shape.step)) {}

std::uint64_t Scanner::complete_below(std::uint64_t end) const noexcept {
    if (done() || next_start_ > end || end - next_start_ < shape_.window) return 0;
    const std::uint64_t complete = (end - next_start_ - shape_.window) / shape_.step + 1;
    const std::uint64_t starts = (span_.starts_end - next_start_ - 1) / shape_.step + 1;
    return std::min(complete, starts);
}

std::uint64_t Scanner::needed_end() const noexcept {
    if (done()) return position_;
    if (span_.starts_end == NO_OFFSET) return NO_OFFSET;
    const std::uint64_t last_start =
        advance(next_start_, (span_.starts_end - next_start_ - 1) / shape_.step, shape_.step);
    return last_start > NO_OFFSET - shape_.window ? NO_OFFSET : last_start + shape_.window;
}

void Scanner::scan_run(const std::uint8_t* first, std::uint64_t count, const ScanOutput& out,
                       WorkerPool& pool) const {
    scan_full_windows(first, count, shape_, terms_, {out.shannon, out.min_entropy, out.chi_square},
                      pool, options_);
}

void Scanner::feed(ByteView bytes, WorkerPool& pool) {
    if (finished_) throw std::logic_error("a scanner cannot be fed after its stream has ended");
    const std::uint64_t seam = position_;
    const std::uint64_t end = seam + bytes.size();
    const std::uint64_t complete = complete_below(end);
    // The windows that start before the seam need the kept bytes.
    const std::uint64_t cut =
        next_start_ < seam ? std::min(complete, (seam - next_start_ - 1) / shape_.step + 1) : 0;
    const ScanOutput out = columns_.extend(complete);
    for (std::uint64_t k = 0; k < complete; ++k) {
        out.offsets[k] = next_start_ + k * shape_.step;
        out.lengths[k] = shape_.window;
    }
    if (cut > 0) {
        const std::uint64_t cut_end = next_start_ + (cut - 1) * shape_.step + shape_.window;
        std::vector<std::uint8_t> joined(open_bytes_);
        joined.insert(joined.end(), bytes.begin(), bytes.begin() + (cut_end - seam));
        scan_run(joined.data(), cut, out, pool);
    }
    if (complete > cut) {
        const std::uint64_t first = next_start_ + cut * shape_.step;
        scan_run(bytes.data() + (first - seam), complete - cut, out.from(cut), pool);
    }
    const std::uint64_t kept_from = next_start_;
    next_start_ = advance(next_start_, complete, shape_.step);
    position_ = end;
    // Keep what the windows still open need.
    if (done() || next_start_ >= end) {
        open_bytes_.clear();
    } else if (next_start_ >= seam) {
        open_bytes_.assign(bytes.begin() + (next_start_ - seam), bytes.end());
    } else {
        open_bytes_.erase(open_bytes_.begin(), open_bytes_.begin() + (next_start_ - kept_from));
        open_bytes_.insert(open_bytes_.end(), bytes.begin(), bytes.end());
    }
}

void Scanner::finish(WorkerPool& pool) {
    if (finished_) return;
    const std::uint64_t n = position_;
    const std::uint64_t start = next_start_;
    // The window before this one, if there is one, must not have reached the
    // end already.
    const bool due = !done() && start < n &&
                     (start == span_.origin || shape_.window < n - (start - shape_.step));
    finished_ = true;
    if (due) {
        const ScanOutput out = columns_.extend(1);
        *out.offsets = start;
        *out.lengths = n - start;
        scan_one_window(open_bytes_, {out.shannon, out.min_entropy, out.chi_square}, pool);
    }
    open_bytes_.clear();
    open_bytes_.shrink_to_fit();
}

ScanColumns Scanner::take() {
    ScanColumns taken = std::move(columns_);
    columns_ = ScanColumns();
    return taken;
}

} // namespace talvora::tools
