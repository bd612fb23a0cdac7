// src/tools/binding/bindings.h: what the module's init puts together, one
// file per concern.
#pragma once

#include "tools/binding/histogram_state.h"

#include <nanobind/nanobind.h>

namespace talvora::tools {

using HistogramClass = nanobind::class_<HistogramState>;

// The annotation of every `data` parameter in the signatures.
#define TALVORA_DATA_TYPE                                                                          \
    "str | collections.abc.Buffer | collections.abc.Sequence[typing.SupportsIndex]"

// Histogram: construction, update, merge, comparison, pickling state.
HistogramClass bind_histogram(nanobind::module_& module);
// Histogram._report_fields: the statistics of what it holds.
void bind_report(HistogramClass& histogram);
// Histogram._update_fd: the bytes of an open file.
void bind_file_reading(HistogramClass& histogram);

// scan, its profile (edges, regions) and the streaming Scanner.
void bind_scan(nanobind::module_& module);

// The SP 800-90B assessments: non-IID estimators, IID track, restart tests.
void bind_sp800_90b(nanobind::module_& module);

// Appends more to histogram, raising OverflowError where the byte count
// would pass 2^64 - 1.
void append_or_raise(HistogramState& histogram, const Counted& more);

} // namespace talvora::tools
