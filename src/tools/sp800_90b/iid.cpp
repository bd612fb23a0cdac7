// src/tools/sp800_90b/iid.cpp: the IID track, each test on the samples
// renumbered by rank (the raw values where a statistic needs them).
#include "tools/sp800_90b/iid.h"

#include "entropy/entropy.h"
#include "tools/sp800_90b/mcv.h"
#include "tools/sp800_90b/non_iid.h"
#include "tools/sp800_90b/permutation_shuffle.h"

#include <algorithm>
#include <array>

namespace talvora::tools::sp800_90b {

namespace {

double raw_mean(const ByteHistogram& histogram, std::uint64_t n) {
    std::uint64_t sum = 0;
    for (unsigned value = 0; value < 256; ++value)
        sum += value * histogram.counts[value];
    return static_cast<double>(sum) / static_cast<double>(n);
}

void assess(IidResult& result, Symbols data, const LiteralSequence& literal) {
    Estimate on_literal = most_common_value(literal.symbols);
    on_literal.form = Form::literal;
    result.h_original = std::min<double>(result.bits, on_literal.min_entropy.value_or(0));
    result.assessed = *result.h_original;
    result.estimates.push_back(std::move(on_literal));
    if (result.binary) return;
    Estimate on_bits = most_common_value(bitstring(data, result.bits));
    on_bits.form = Form::bitstring;
    result.h_bitstring = std::min(1.0, on_bits.min_entropy.value_or(0));
    result.assessed = std::min(result.assessed, result.bits * *result.h_bitstring);
    result.estimates.push_back(std::move(on_bits));
}

} // namespace

std::array<std::uint8_t, 256> literal_raw_values(const ByteHistogram& histogram) {
    std::array<std::uint8_t, 256> raw{};
    unsigned k = 0;
    for (unsigned value = 0; value < 256; ++value)
        if (histogram.counts[value] != 0) raw[k++] = static_cast<std::uint8_t>(value);
    return raw;
}

IidTests iid_tests(Symbols literal, unsigned k, const std::array<std::uint8_t, 256>& raw,
                   const IidOptions& options, std::uint64_t seed, WorkerPool& pool) {
    const std::vector<double> proportions = symbol_proportions(literal, k);
    const PermutationData facts = PermutationData::of(literal, raw, k);
    return {chi_square_independence(literal, k, proportions),
            chi_square_goodness_of_fit(literal, k, proportions),
            lrs_test(literal.size(), proportions, longest_repeat(literal, k)),
            permutation_test(literal, facts, {options.permutations, seed, options.progress}, pool)};
}

IidResult iid(Symbols data, unsigned bits, const IidOptions& options, WorkerPool& pool) {
    check_samples(data, bits);
    if (data.empty()) throw std::invalid_argument("no samples to assess");
    if (data.size() > MAX_SEQUENCE_LEN)
        throw std::length_error("too many samples: at most " + std::to_string(MAX_SEQUENCE_LEN));
    IidResult result;
    result.bits = bits;
    result.samples = data.size();
    if (data.size() < RECOMMENDED_SAMPLES)
        result.warnings.push_back("fewer than " + std::to_string(RECOMMENDED_SAMPLES) +
                                  " samples: the tests are meant for at least that many");
    const ByteHistogram histogram = count_bytes(data);
    result.mean = raw_mean(histogram, data.size());
    const LiteralSequence literal = literal_sequence(data);
    result.k = literal.k;
    if (literal.k < 2) {
        result.warnings.push_back("every sample has the same value: no entropy");
        result.h_original = 0.0;
        return result;
    }
    result.binary = literal.k == 2;
    result.median = literal_median(literal.symbols, literal.k);
    assess(result, data, literal);

    result.tests = iid_tests(literal.symbols, literal.k, literal_raw_values(histogram), options,
                             options.seed ? *options.seed : random_seed(), pool);
    result.is_iid = result.tests->passed();
    return result;
}

IidResult iid(Symbols data, unsigned bits, const IidOptions& options) {
    return iid(data, bits, options, global_pool());
}

} // namespace talvora::tools::sp800_90b
