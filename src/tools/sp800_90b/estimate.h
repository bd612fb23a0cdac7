// src/tools/sp800_90b/estimate.h: one estimator's result on one form of the
// samples: its min-entropy (absent when the estimator gives no value) and
// the intermediate values, named as the reference tool prints them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace talvora::tools::sp800_90b {

enum class Form { literal, bitstring };

const char* form_name(Form form) noexcept; // "literal", "bitstring"

// Counts are integers; everything else a double (values the estimators work
// out in extended precision are rounded once, on the way out).
using Value = std::variant<std::int64_t, double>;

struct NamedValue {
    std::string name;
    Value value;
};

struct Estimate {
    Estimate() = default;
    explicit Estimate(std::string estimator) : name(std::move(estimator)) {}

    std::string name; // "MCV", "Collision", ..., "LZ78Y"
    Form form = Form::literal;
    std::optional<double> min_entropy;
    std::vector<NamedValue> values; // in the order the reference tool prints them
    std::string note;               // why there is no value, or how it was reached

    // The value called name, if there is one.
    const Value* find(const std::string& value_name) const;
    void add(std::string value_name, Value value) {
        values.push_back({std::move(value_name), value});
    }
};

} // namespace talvora::tools::sp800_90b
