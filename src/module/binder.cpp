// src/module/binder.cpp: bind_arguments, the table-driven binder that maps a
// vectorcall argument vector onto the slots of a CallSignature.
#include <algorithm>
#include <cassert>
#include <vector>

#include "module/call.h"
#include "module/text.h"

namespace talvora {
namespace {

using Names = std::vector<std::string_view, FatalAllocator<std::string_view>>;

struct Binding {
    const CallSignature& signature;
    std::span<PyObject*> slots;
    Names positional_only_by_keyword;

    MaybeError fill(std::size_t slot, std::string_view name, PyObject* value) noexcept {
        if (slots[slot] != nullptr)
            return type_error(binding_message::multiple_values(signature, name));
        slots[slot] = value;
        return std::nullopt;
    }

    // Puts one keyword argument in its slot. Names of positional-only
    // parameters are collected, to be reported together.
    MaybeError place_keyword(PyObject* keyword, std::string_view name, PyObject* value) noexcept {
        const std::size_t positional_count = signature.positional_names.size();
        for (std::size_t j = 0; j < signature.keyword_only.size(); ++j)
            if (signature.keyword_only[j].name == name)
                return fill(positional_count + j, name, value);
        for (std::size_t j = 0; j < positional_count; ++j) {
            if (signature.positional_names[j] != name) continue;
            if (j < signature.positional_only_count) {
                positional_only_by_keyword.push_back(signature.positional_names[j]);
                return std::nullopt;
            }
            return fill(j, name, value);
        }
        return type_error(binding_message::unexpected_keyword(signature, display_object(keyword)));
    }
};

} // namespace

MaybeError bind_arguments(const CallSignature& signature, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames, std::span<PyObject*> slots) noexcept {
    using namespace binding_message;
    assert(std::all_of(slots.begin(), slots.end(), [](PyObject* slot) { return slot == nullptr; }));
    const std::size_t positional_count = signature.positional_names.size();
    const auto given = static_cast<std::size_t>(nargs);
    if (args != nullptr) {
        std::copy_n(args, std::min(given, positional_count), slots.begin());
        if (given > positional_count) return type_error(too_many_positional(signature, given));
    }

    Binding binding{signature, slots, {}};
    if (kwnames != nullptr) {
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(kwnames); ++i) {
            PyObject* keyword = PyTuple_GET_ITEM(kwnames, i);
            Py_ssize_t size;
            const char* utf8 = PyUnicode_AsUTF8AndSize(keyword, &size);
            if (utf8 == nullptr) {
                // Lone surrogates: such a name can match no parameter.
                (void)take_error();
                return type_error(unexpected_keyword(signature, display_object(keyword)));
            }
            const std::string_view name(utf8, static_cast<std::size_t>(size));
            if (MaybeError error = binding.place_keyword(keyword, name, args[nargs + i]))
                return error;
        }
    }
    if (!binding.positional_only_by_keyword.empty())
        return type_error(
            positional_only_passed_as_keyword(signature, binding.positional_only_by_keyword));

    Names missing;
    if (given < signature.required_positional_count) {
        for (std::size_t j = 0; j < signature.required_positional_count; ++j)
            if (slots[j] == nullptr) missing.push_back(signature.positional_names[j]);
        if (!missing.empty())
            return type_error(missing_arguments(signature, MissingKind::Positional, missing));
    }
    for (std::size_t j = 0; j < signature.keyword_only.size(); ++j)
        if (signature.keyword_only[j].required && slots[positional_count + j] == nullptr)
            missing.push_back(signature.keyword_only[j].name);
    if (!missing.empty())
        return type_error(missing_arguments(signature, MissingKind::Keyword, missing));
    return std::nullopt;
}

} // namespace talvora
