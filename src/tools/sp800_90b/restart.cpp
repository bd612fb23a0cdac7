// src/tools/sp800_90b/restart.cpp: the sanity check on every row and column,
// then the estimates on the row and the column dataset.
#include "tools/sp800_90b/restart.h"

#include "tools/sp800_90b/mcv.h"
#include "tools/sp800_90b/non_iid.h"
#include "tools/sp800_90b/permutation_shuffle.h"
#include "tools/sp800_90b/restart_cutoff.h"

#include <algorithm>
#include <stdexcept>

namespace talvora::tools::sp800_90b {

namespace {

// The count of the commonest value in the most skewed run of
// SAMPLES_PER_RESTART samples.
std::uint64_t largest_mode(Symbols dataset) {
    std::uint64_t largest = 0;
    for (std::size_t start = 0; start < dataset.size(); start += SAMPLES_PER_RESTART) {
        std::array<std::uint16_t, 256> counts{};
        for (const std::uint8_t s : dataset.subspan(start, SAMPLES_PER_RESTART))
            ++counts[s];
        largest = std::max<std::uint64_t>(largest, *std::max_element(counts.begin(), counts.end()));
    }
    return largest;
}

RestartDataset assess_iid(Symbols raw, unsigned bits, const IidOptions& options, std::uint64_t seed,
                          WorkerPool& pool) {
    const LiteralSequence literal = literal_sequence(raw);
    RestartDataset dataset;
    Estimate mcv = most_common_value(literal.symbols);
    mcv.form = Form::literal;
    dataset.min_entropy = std::min<double>(bits, mcv.min_entropy.value_or(0));
    dataset.estimates.push_back(std::move(mcv));
    if (literal.k >= 2)
        dataset.tests = iid_tests(literal.symbols, literal.k, literal_raw_values(count_bytes(raw)),
                                  options, seed, pool);
    return dataset;
}

// The non-IID estimates of the samples as they are (no bitstring).
RestartDataset assess_non_iid(Symbols raw, unsigned bits, const std::stop_token& stop) {
    NonIidResult result = non_iid(raw, bits, false, stop);
    RestartDataset dataset;
    for (Estimate& e : result.estimates)
        if (e.form == Form::literal) dataset.estimates.push_back(std::move(e));
    dataset.min_entropy = result.h_original.value_or(0);
    return dataset;
}

} // namespace

std::vector<std::uint8_t> restart_columns(Symbols rows) {
    std::vector<std::uint8_t> columns(rows.size());
    for (std::size_t r = 0; r < RESTARTS; ++r)
        for (std::size_t c = 0; c < SAMPLES_PER_RESTART; ++c)
            columns[c * RESTARTS + r] = rows[r * SAMPLES_PER_RESTART + c];
    return columns;
}

RestartResult restart(Symbols data, unsigned bits, double h_initial, const RestartOptions& options,
                      WorkerPool& pool) {
    check_samples(data, bits);
    if (data.size() != RESTARTS * SAMPLES_PER_RESTART)
        throw std::invalid_argument("restart data must hold " + std::to_string(RESTARTS) +
                                    " restarts of " + std::to_string(SAMPLES_PER_RESTART) +
                                    " samples, not " + std::to_string(data.size()) + " samples");
    if (!(h_initial >= 0 && h_initial <= bits))
        throw std::invalid_argument("the claimed entropy must lie between 0 and " +
                                    std::to_string(bits) + " bits");
    RestartResult result;
    result.bits = bits;
    result.h_initial = h_initial;
    result.iid = options.iid;
    const ByteHistogram histogram = count_bytes(data);
    result.k = static_cast<unsigned>(std::count_if(histogram.counts.begin(), histogram.counts.end(),
                                                   [](std::uint64_t c) { return c != 0; }));
    if (result.k < 2) result.warnings.push_back("every sample has the same value: no entropy");

    const std::vector<std::uint8_t> columns = restart_columns(data);
    RestartSanityCheck& sanity = result.sanity;
    sanity.alpha = restart_alpha();
    sanity.cutoff = restart_cutoff(h_initial);
    sanity.max_count = std::max(largest_mode(data), largest_mode(columns));
    sanity.passed = sanity.max_count <= sanity.cutoff;
    if (!sanity.passed) return result;

    if (options.iid) {
        const std::optional<std::uint64_t>& given = options.iid_options.seed;
        const std::uint64_t seed = given ? *given : random_seed();
        result.rows = assess_iid(data, bits, options.iid_options, seed, pool);
        result.columns = assess_iid(columns, bits, options.iid_options, seed, pool);
    } else {
        result.rows = assess_non_iid(data, bits, options.stop);
        result.columns = assess_non_iid(columns, bits, options.stop);
    }
    const double least = std::min(result.rows->min_entropy, result.columns->min_entropy);
    result.validated = least >= h_initial / 2;
    if (result.validated) result.assessed = std::min(least, h_initial);
    return result;
}

RestartResult restart(Symbols data, unsigned bits, double h_initial,
                      const RestartOptions& options) {
    return restart(data, bits, h_initial, options, global_pool());
}

} // namespace talvora::tools::sp800_90b
