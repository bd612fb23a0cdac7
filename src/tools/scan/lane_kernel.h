// src/tools/scan/lane_kernel.h: the body of the full-window kernel, given the
// lane operations of one instruction set.
//
// Each file that builds the kernel for an instruction set includes this
// under its own target pragma, so everything here has internal linkage: the
// linker must never hand one build's copy of a function to another. The
// includer includes the headers below before its pragma, so that what they
// define stays built for the baseline.
#pragma once

#include "tools/scan/full_windows.h"
#include "tools/scan/window_counts.h"
#include "tools/stream/report.h"

namespace talvora::tools {
namespace {

// Lanes provides, for rows of LANES doubles:
//   Lanes::From(lane).fill(row, value): row[lane..LANES) = value;
//   sum(rows, sums, spread): sums[l] = -0.0 - row[0][l] - ... - row[255][l],
//                       subtracted in that order, each rounded; then, if
//                       spread, every row's entries = its last entry;
//   max_count(counts):  the largest of 256 counts.

// Moves the window on by step bytes: leaving[0..step) go out, entering[0..step)
// come in. Lane `lane` and those after it take the new terms; the earlier
// lanes keep their windows' terms until the rows are summed. TableComplete:
// every count has a term in the table, so no lookup checks the count.
template <class Lanes, bool TableComplete>
void slide(WindowCounts& counts, const std::uint8_t* leaving, const std::uint8_t* entering,
           std::uint64_t step, const WindowTerms& terms, LaneRows& rows, std::size_t lane) {
    const auto term = [&terms](std::uint64_t count) {
        return TableComplete ? terms.shannon_in_table(count) : terms.shannon(count);
    };
    const typename Lanes::From from(lane);
    std::uint64_t* const count = counts.count;
    // Each step moves as many bytes out as in, so the change of the sum of
    // squares is 2 * (sum of the new counts - sum of the old ones).
    __int128 change = 0;
    // The largest count can only fall if a byte leaves a bin that held it:
    // a count that was at least the largest at the start.
    std::uint64_t largest_left = 0;
    std::uint64_t largest_now = counts.most;
    for (std::uint64_t i = 0; i < step; ++i) {
        const std::uint8_t out = leaving[i];
        const std::uint64_t was = count[out]--;
        change -= was;
        largest_left = was > largest_left ? was : largest_left;
        from.fill(rows.row[out], term(was - 1));
        const std::uint8_t in = entering[i];
        const std::uint64_t now = ++count[in];
        change += now;
        largest_now = now > largest_now ? now : largest_now;
        from.fill(rows.row[in], term(now));
    }
    counts.sum_squares += 2 * change;
    counts.most_known = counts.most_known && largest_left < counts.most;
    counts.most = largest_now;
}

template <class Lanes> void run_windows(const FullWindowRun& run) {
    const std::uint64_t window = run.shape.window;
    const std::uint64_t step = run.shape.step;
    const bool slides = run_slides(run.shape);
    const WindowTerms& terms = *run.terms;
    LaneRows& rows = *run.rows;
    WindowCounts counts;
    alignas(64) double sums[LANES];
    std::size_t lane = 0;
    for (std::uint64_t w = 0; w < run.count; ++w) {
        const std::uint8_t* start = run.first + w * step;
        if (w > 0 && slides) {
            const std::uint8_t* leaving = start - step;
            if (terms.table_complete())
                slide<Lanes, true>(counts, leaving, leaving + window, step, terms, rows, lane);
            else
                slide<Lanes, false>(counts, leaving, leaving + window, step, terms, rows, lane);
        } else {
            counts.recount(ByteView(start, window), run.pool);
            for (std::size_t b = 0; b < 256; ++b) {
                const double term = terms.shannon(counts.count[b]);
                if (slides)
                    typename Lanes::From(0).fill(rows.row[b], term);
                else
                    rows.row[b][lane] = term;
            }
        }
        if (!counts.most_known) {
            counts.most = Lanes::max_count(counts.count);
            counts.most_known = true;
        }
        run.min_entropy[w] = terms.min_entropy(counts.most);
        run.chi_square[w] = window_chi_square(counts.sum_squares, window);
        if (lane + 1 < LANES && w + 1 < run.count) {
            ++lane;
            continue;
        }
        // A sliding run's next window starts from the terms of this one.
        Lanes::sum(rows, sums, slides);
        for (std::size_t l = 0; l <= lane; ++l)
            run.shannon[w - lane + l] = sums[l];
        lane = 0;
    }
}

} // namespace
} // namespace talvora::tools
