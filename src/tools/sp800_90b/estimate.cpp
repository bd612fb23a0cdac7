// src/tools/sp800_90b/estimate.cpp: looking up an estimate's named values.
#include "tools/sp800_90b/estimate.h"

#include <algorithm>

namespace talvora::tools::sp800_90b {

const char* form_name(Form form) noexcept {
    return form == Form::literal ? "literal" : "bitstring";
}

const Value* Estimate::find(const std::string& value_name) const {
    const auto found = std::find_if(values.begin(), values.end(),
                                    [&](const NamedValue& v) { return v.name == value_name; });
    return found == values.end() ? nullptr : &found->value;
}

} // namespace talvora::tools::sp800_90b
