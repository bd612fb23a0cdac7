// src/tools/sp800_90b/non_iid.cpp: which estimators run on which form, in
// parallel, and how their values combine.
//
// The bitstring runs all ten estimators; so does the literal sequence when
// it is binary (k = 2), and then there is no separate bitstring. Otherwise
// the literal sequence skips the three binary-only estimators. Conditioned
// data are assessed as a bitstring only.
#include "tools/sp800_90b/non_iid.h"

#include "tools/sp800_90b/binary_estimates.h"
#include "tools/sp800_90b/mcv.h"
#include "tools/sp800_90b/parallel_tasks.h"
#include "tools/sp800_90b/predictors.h"
#include "tools/sp800_90b/tuple_estimates.h"

#include <algorithm>

namespace talvora::tools::sp800_90b {

namespace {

// The estimates of one form, in the reference tool's order; slots that stay
// empty belong to estimators the form does not run.
struct FormEstimates {
    explicit FormEstimates(Form f) : form(f) {}
    Form form;
    std::optional<Estimate> mcv, collision, markov, compression, t_tuple, lrs, multi_mcw, lag,
        multi_mmc, lz78y;
};

// Queues the estimators of one form; binary forms run all ten. Costs are
// rough seconds per 10^7 symbols (and the fixed cost of the compression
// estimate's root search) measured on bits and on bytes.
void plan_form(std::vector<Task>& tasks, FormEstimates& out, Symbols s, unsigned k) {
    const auto put = [form = out.form](std::optional<Estimate>& slot, Estimate estimate) {
        estimate.form = form;
        slot = std::move(estimate);
    };
    const double n = static_cast<double>(s.size()) / 1e7;
    const bool binary = k == 2;
    tasks.push_back({[&out, s, k, put] {
                         TupleEstimates tuples = tuple_estimates(s, k);
                         put(out.t_tuple, std::move(tuples.t_tuple));
                         put(out.lrs, std::move(tuples.lrs));
                     },
                     (binary ? 0.5 : 0.7) * n});
    tasks.push_back(
        {[&out, s, k, put] { put(out.lz78y, lz78y_estimate(s, k)); }, (binary ? 0.45 : 1.9) * n});
    tasks.push_back({[&out, s, k, put] { put(out.multi_mmc, multi_mmc_estimate(s, k)); },
                     (binary ? 0.5 : 4.0) * n});
    tasks.push_back({[&out, s, k, put] { put(out.lag, lag_estimate(s, k)); }, 0.1 * n});
    tasks.push_back(
        {[&out, s, k, put] { put(out.multi_mcw, multi_mcw_estimate(s, k)); }, 0.08 * n});
    tasks.push_back({[&out, s, k, put] {
                         put(out.mcv, most_common_value(s));
                         if (k != 2) return;
                         put(out.collision, collision_estimate(s));
                         put(out.markov, markov_estimate(s));
                         put(out.compression, compression_estimate(s));
                     },
                     binary ? 0.03 + 0.1 * n : 0.01 * n});
}

void append_estimates(std::vector<Estimate>& out, FormEstimates* first, FormEstimates* second) {
    using Slot = std::optional<Estimate> FormEstimates::*;
    const auto take = [&out](FormEstimates* form, Slot slot) {
        if (form != nullptr && form->*slot) out.push_back(std::move(*(form->*slot)));
    };
    for (const Slot slot : {&FormEstimates::mcv, &FormEstimates::collision, &FormEstimates::markov,
                            &FormEstimates::compression}) {
        take(first, slot);
        take(second, slot);
    }
    // t-tuple and LRS come as a pair per form.
    take(first, &FormEstimates::t_tuple);
    take(first, &FormEstimates::lrs);
    take(second, &FormEstimates::t_tuple);
    take(second, &FormEstimates::lrs);
    for (const Slot slot : {&FormEstimates::multi_mcw, &FormEstimates::lag,
                            &FormEstimates::multi_mmc, &FormEstimates::lz78y}) {
        take(first, slot);
        take(second, slot);
    }
}

// min(cap, every value of the form's estimates that gave one).
double smallest(const std::vector<Estimate>& estimates, Form form, double cap) {
    double h = cap;
    for (const Estimate& estimate : estimates)
        if (estimate.form == form && estimate.min_entropy) h = std::min(h, *estimate.min_entropy);
    return h;
}

} // namespace

NonIidResult non_iid(Symbols data, unsigned bits, bool conditioned, const std::stop_token& stop) {
    check_samples(data, bits);
    if (data.empty()) throw std::invalid_argument("no samples to assess");
    NonIidResult result;
    result.bits = bits;
    result.conditioned = conditioned;
    result.samples = data.size();
    if (data.size() < RECOMMENDED_SAMPLES)
        result.warnings.push_back("fewer than " + std::to_string(RECOMMENDED_SAMPLES) +
                                  " samples: the estimators are meant for at least that many");
    LiteralSequence literal = literal_sequence(data);
    result.k = literal.k;
    if (literal.k < 2) {
        result.warnings.push_back("every sample has the same value: no entropy");
        (conditioned ? result.h_bitstring : result.h_original) = 0.0;
        result.assessed = 0.0;
        return result;
    }

    const bool literal_track = !conditioned;
    const bool bitstring_track = conditioned || literal.k > 2;
    if (literal_track && data.size() > MAX_SEQUENCE_LEN)
        throw std::length_error("too many samples: at most " + std::to_string(MAX_SEQUENCE_LEN));
    // One-bit samples are their own bitstring.
    std::vector<std::uint8_t> bitstring_storage;
    Symbols bitstring_view = data;
    if (bitstring_track && bits > 1) {
        bitstring_storage = bitstring(data, bits);
        bitstring_view = bitstring_storage;
    }

    FormEstimates on_bits(Form::bitstring), on_literal(Form::literal);
    std::vector<Task> tasks;
    if (bitstring_track) plan_form(tasks, on_bits, bitstring_view, 2);
    if (literal_track) plan_form(tasks, on_literal, literal.symbols, literal.k);
    run_tasks(tasks, stop);
    append_estimates(result.estimates, bitstring_track ? &on_bits : nullptr,
                     literal_track ? &on_literal : nullptr);

    const double width = bits;
    result.assessed = width;
    if (bitstring_track) {
        result.h_bitstring = smallest(result.estimates, Form::bitstring, 1.0);
        result.assessed = std::min(result.assessed, width * *result.h_bitstring);
    }
    if (literal_track) {
        result.h_original = smallest(result.estimates, Form::literal, width);
        result.assessed = std::min(result.assessed, *result.h_original);
    }
    return result;
}

} // namespace talvora::tools::sp800_90b
