// src/tools/binding/sp800_90b_binding.cpp: the SP 800-90B assessments (the
// non-IID estimators, the IID track, the restart tests) on the samples of a
// `data` argument, computed without the interpreter lock; results go back as
// plain tuples that the package's sp800_90b module gives their shape.
#include "tools/binding/bindings.h"

#include "tools/binding/contiguous_input.h"
#include "tools/sp800_90b/iid.h"
#include "tools/sp800_90b/non_iid.h"
#include "tools/sp800_90b/restart.h"

#include <nanobind/stl/optional.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/string_view.h>
#include <nanobind/stl/tuple.h>
#include <nanobind/stl/variant.h>
#include <nanobind/stl/vector.h>

#include <chrono>
#include <future>
#include <optional>
#include <stop_token>
#include <string>
#include <system_error>
#include <tuple>
#include <utility>
#include <vector>

namespace nb = nanobind;
using namespace nb::literals;

namespace talvora::tools {
namespace {

namespace sp = sp800_90b;

// Called with the number of shuffles made; what it returns is ignored.
using ProgressCallback = nb::typed<nb::callable, nb::object(std::size_t)>;

// The tuples handed to Python, field by field as the package reads them.
using EstimateTuple = std::tuple<std::string, std::string, std::optional<double>,
                                 std::vector<std::pair<std::string, sp::Value>>, std::string>;
using ChiSquareTuple = std::tuple<double, std::int64_t, double, bool>;
using LrsTuple = std::tuple<double, std::uint64_t, double, bool>;
using StatisticTuple = std::tuple<std::string_view, double, std::uint32_t, std::uint32_t,
                                  std::uint32_t, std::optional<bool>>;
using PermutationTuple =
    std::tuple<std::vector<StatisticTuple>, std::uint64_t, std::size_t, bool, bool>;
using TestsTuple = std::tuple<ChiSquareTuple, ChiSquareTuple, LrsTuple, PermutationTuple>;
using DatasetTuple = std::tuple<std::vector<EstimateTuple>, double, std::optional<TestsTuple>>;

std::vector<EstimateTuple> estimate_tuples(const std::vector<sp::Estimate>& estimates) {
    std::vector<EstimateTuple> out;
    out.reserve(estimates.size());
    for (const sp::Estimate& e : estimates) {
        std::vector<std::pair<std::string, sp::Value>> values;
        values.reserve(e.values.size());
        for (const sp::NamedValue& v : e.values)
            values.emplace_back(v.name, v.value);
        out.emplace_back(e.name, sp::form_name(e.form), e.min_entropy, std::move(values), e.note);
    }
    return out;
}

ChiSquareTuple chi_square_tuple(const sp::ChiSquareResult& r) {
    return {r.statistic, r.degrees_of_freedom, r.p_value, r.passed};
}

std::optional<TestsTuple> tests_tuple(const std::optional<sp::IidTests>& tests) {
    if (!tests) return std::nullopt;
    const sp::PermutationTestResult& p = tests->permutation;
    std::vector<StatisticTuple> statistics;
    for (const sp::PermutationStatisticResult& s : p.statistics)
        statistics.emplace_back(s.name, s.original, s.greater, s.equal, s.less, s.passed);
    return TestsTuple{chi_square_tuple(tests->independence),
                      chi_square_tuple(tests->goodness_of_fit),
                      LrsTuple{tests->lrs.collision_probability, tests->lrs.longest_repeat,
                               tests->lrs.probability, tests->lrs.passed},
                      PermutationTuple{std::move(statistics), p.seed, p.permutations,
                                       p.compression_needed, p.passed}};
}

std::optional<DatasetTuple> dataset_tuple(const std::optional<sp::RestartDataset>& dataset) {
    if (!dataset) return std::nullopt;
    return DatasetTuple{estimate_tuples(dataset->estimates), dataset->min_entropy,
                        tests_tuple(dataset->tests)};
}

// How often a long computation without the interpreter lock takes it for a
// moment, to run pending signal handlers (Ctrl-C): other Python threads want
// the lock too, so not more often.
constexpr auto CHECK_INTERVAL = std::chrono::milliseconds(20);

// What the permutation test asks between rounds of shuffles, which run
// without the interpreter lock: whether to go on. Every CHECK_INTERVAL at
// most (rounds of short inputs take microseconds, and other Python threads
// want the lock) it takes the lock for a moment to run pending signal
// handlers (Ctrl-C) and the caller's progress callback; an exception from
// either stops the test and is raised once the computation has unwound.
class PermutationWatch {
  public:
    explicit PermutationWatch(nb::handle callback) : callback_(nb::borrow(callback)) {}

    sp::PermutationProgress progress() {
        return [this](std::size_t permutations) { return keep_going(permutations); };
    }

    // Raises what stopped the test; the lock is held.
    [[noreturn]] void raise_stopped() {
        PyErr_SetRaisedException(error_.release().ptr());
        throw nb::python_error();
    }

  private:
    bool keep_going(std::size_t permutations) {
        const auto now = std::chrono::steady_clock::now();
        if (now - last_check_ < CHECK_INTERVAL) return true;
        last_check_ = now;
        nb::gil_scoped_acquire attached;
        if (PyErr_CheckSignals() == 0 && call_back(permutations)) return true;
        error_ = nb::steal(PyErr_GetRaisedException());
        return false;
    }

    bool call_back(std::size_t permutations) {
        if (callback_.is_none()) return true;
        const nb::object count = nb::steal(PyLong_FromSize_t(permutations));
        if (!count.is_valid()) return false;
        return nb::steal(PyObject_CallOneArg(callback_.ptr(), count.ptr())).is_valid();
    }

    nb::object callback_;
    nb::object error_;
    std::chrono::steady_clock::time_point last_check_{};
};

// Runs assess on data's bytes without the interpreter lock, the input held
// meanwhile. Errors of the samples (std::invalid_argument, SampleRangeError
// among them) reach Python as ValueError through nanobind's translation.
template <class Assess> auto assessed_without_lock(nb::handle data, Assess&& assess) {
    const ContiguousInput input(data);
    nb::gil_scoped_release released;
    return assess(input.bytes());
}

// Runs assess(bytes, stop) on data's bytes on a thread of its own, the input
// held meanwhile, while this thread (the one Python delivers signals to)
// waits without the interpreter lock and takes it every CHECK_INTERVAL to
// run pending signal handlers. An exception from them (KeyboardInterrupt)
// asks assess to stop, waits until it has (estimators already running
// finish), and is raised. Without a thread to spare, assess runs here,
// without a way to stop it.
template <class Assess> auto assessed_interruptibly(nb::handle data, Assess&& assess) {
    const ContiguousInput input(data);
    const ByteView bytes = input.bytes();
    std::stop_source stop;
    nb::object raised;
    {
        nb::gil_scoped_release released;
        std::future<decltype(assess(bytes, stop.get_token()))> result;
        try {
            result =
                std::async(std::launch::async, [&] { return assess(bytes, stop.get_token()); });
        } catch (const std::system_error&) {
            return assess(bytes, stop.get_token());
        }
        while (result.wait_for(CHECK_INTERVAL) != std::future_status::ready) {
            if (raised.is_valid()) continue;
            nb::gil_scoped_acquire attached;
            if (PyErr_CheckSignals() == 0) continue;
            raised = nb::steal(PyErr_GetRaisedException());
            stop.request_stop();
        }
        if (!raised.is_valid()) return result.get();
        try {
            result.get();
        } catch (const sp::TasksStopped&) {
        }
    }
    PyErr_SetRaisedException(raised.release().ptr());
    throw nb::python_error();
}

// The entropy claimed for restart data when the caller claims none: what
// the same track assesses on the samples in order. Only the assessed value
// of the IID track is wanted, which no shuffle changes. Data of the wrong
// size is left for restart() to refuse, without assessing it first.
double claim_of(ByteView data, unsigned bits, bool iid, const std::stop_token& stop) {
    if (data.size() != sp::RESTARTS * sp::SAMPLES_PER_RESTART) return 0;
    if (iid) return sp::iid(data, bits, {.permutations = 0, .seed = 0, .progress = {}}).assessed;
    return sp::non_iid(data, bits, false, stop).assessed;
}

sp::IidOptions iid_options(std::size_t permutations, std::optional<std::uint64_t> seed,
                           PermutationWatch& watch) {
    return {permutations, seed, watch.progress()};
}

} // namespace

void bind_sp800_90b(nb::module_& module) {
    module.def(
        "_non_iid",
        [](nb::handle data, unsigned bits, bool conditioned) {
            const sp::NonIidResult r =
                assessed_interruptibly(data, [&](ByteView bytes, const std::stop_token& stop) {
                    return sp::non_iid(bytes, bits, conditioned, stop);
                });
            return std::make_tuple(r.samples, r.k, r.h_original, r.h_bitstring, r.assessed,
                                   estimate_tuples(r.estimates), r.warnings);
        },
        "data"_a.none(), "bits"_a, "conditioned"_a,
        "The non-IID assessment of data's samples: (samples, k, h_original, h_bitstring, "
        "assessed, estimates, warnings); an estimate is (name, form, min_entropy, values, note).");

    module.def(
        "_iid",
        [](nb::handle data, unsigned bits, std::size_t permutations,
           std::optional<std::uint64_t> seed, std::optional<ProgressCallback> progress) {
            PermutationWatch watch(progress ? nb::handle(*progress) : nb::none());
            const sp::IidOptions options = iid_options(permutations, seed, watch);
            sp::IidResult r;
            try {
                r = assessed_without_lock(
                    data, [&](ByteView bytes) { return sp::iid(bytes, bits, options); });
            } catch (const sp::PermutationTestStopped&) {
                watch.raise_stopped();
            }
            return std::make_tuple(r.samples, r.k, r.mean, r.median, r.binary,
                                   estimate_tuples(r.estimates), r.h_original, r.h_bitstring,
                                   r.assessed, tests_tuple(r.tests), r.is_iid, r.warnings);
        },
        "data"_a.none(), "bits"_a, "permutations"_a, "seed"_a.none(), "progress"_a.none(),
        "The IID track on data's samples: (samples, k, mean, median, binary, estimates, "
        "h_original, h_bitstring, assessed, tests, is_iid, warnings); tests are (independence, "
        "goodness of fit, LRS, permutation). progress(shuffles made) is called between rounds.");

    module.def(
        "_restart",
        [](nb::handle data, unsigned bits, std::optional<double> h_initial, bool iid,
           std::size_t permutations, std::optional<std::uint64_t> seed,
           std::optional<ProgressCallback> progress) {
            PermutationWatch watch(progress ? nb::handle(*progress) : nb::none());
            sp::RestartOptions options{iid, iid_options(permutations, seed, watch), {}};
            const auto assess = [&](ByteView bytes, const std::stop_token& stop) {
                options.stop = stop;
                const double claim = h_initial ? *h_initial : claim_of(bytes, bits, iid, stop);
                return sp::restart(bytes, bits, claim, options);
            };
            sp::RestartResult r;
            try {
                // The IID track's permutation tests watch for signals on this
                // thread themselves; the non-IID estimators need a watcher.
                r = iid ? assessed_without_lock(data,
                                                [&](ByteView bytes) { return assess(bytes, {}); })
                        : assessed_interruptibly(data, assess);
            } catch (const sp::PermutationTestStopped&) {
                watch.raise_stopped();
            }
            const sp::RestartSanityCheck& s = r.sanity;
            return std::make_tuple(r.h_initial, r.k,
                                   std::make_tuple(s.alpha, s.cutoff, s.max_count, s.passed),
                                   dataset_tuple(r.rows), dataset_tuple(r.columns), r.validated,
                                   r.assessed, r.warnings);
        },
        "data"_a.none(), "bits"_a, "h_initial"_a, "iid"_a, "permutations"_a, "seed"_a.none(),
        "progress"_a.none(),
        "The restart tests on 1000 restarts of 1000 samples, one restart after another, for the "
        "claimed entropy h_initial (None: the entropy the same track assesses on the samples in "
        "order): (h_initial, k, "
        "sanity (alpha, cutoff, max_count, passed), rows, columns, validated, assessed, "
        "warnings); a dataset is (estimates, min_entropy, tests).");
}

} // namespace talvora::tools
