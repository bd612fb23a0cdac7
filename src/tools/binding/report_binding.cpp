// src/tools/binding/report_binding.cpp: the statistics of a histogram as a
// tuple in the order of the package's Report fields; Report itself is Python.
#include "tools/binding/bindings.h"

#include "tools/stream/report.h"

namespace nb = nanobind;

namespace talvora::tools {

void bind_report(HistogramClass& histogram) {
    histogram.def(
        "_report_fields",
        [](const HistogramState& self) {
            const Counted counted = self.snapshot();
            const Report r = make_report(counted.part);
            const nb::object mode = r.mode ? nb::int_(*r.mode) : nb::none();
            return nb::make_tuple(r.n, r.distinct, mode, r.shannon, r.metric, r.normalized,
                                  r.min_entropy, r.mcv_p_upper, r.mcv_min_entropy, r.chi_square,
                                  r.p_value, r.mean, r.monte_carlo_pi, r.monte_carlo_pi_error,
                                  r.serial_correlation, counted.truncated);
        },
        nb::sig("def _report_fields(self) -> tuple[int, int, int | None, float, float, float, "
                "float, float, float, float, float, float, float, float, float, bool]"),
        "The report's fields, in order.");
}

} // namespace talvora::tools
