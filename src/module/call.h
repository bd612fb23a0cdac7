// src/module/call.h: the call protocol of the exported functions: their
// CallSignature records, argument binding and its messages, the note on a
// failed conversion, and the frame every entry function runs in.
#pragma once

#include <Python.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "module/errors.h"

namespace talvora {

struct KeywordOnlyParameter {
    std::string_view name;
    bool required;
};

// What the binder knows of a function; one constant record per signature.
struct CallSignature {
    std::string_view function_name;
    std::optional<std::string_view> class_name;
    // Parameters that may be given by position (or by keyword).
    std::span<const std::string_view> positional_names;
    // The first this-many positional parameters may not be given by keyword.
    std::size_t positional_only_count;
    // The first this-many positional parameters must be given.
    std::size_t required_positional_count;
    std::span<const KeywordOnlyParameter> keyword_only;

    constexpr std::size_t slot_count() const noexcept {
        return positional_names.size() + keyword_only.size();
    }
};

// The vectorcall convention of METH_FASTCALL | METH_KEYWORDS functions.
using EntryFunction = PyObject* (*)(PyObject * module, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) noexcept;

// Fills `slots` (one per positional, then one per keyword-only parameter,
// all null on entry) with borrowed references from the argument vector, or
// returns the TypeError that says why the arguments do not fit.
MaybeError bind_arguments(const CallSignature& signature, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames, std::span<PyObject*> slots) noexcept;

// The binding messages, built from the signature alone.
namespace binding_message {
Text too_many_positional(const CallSignature& signature, std::size_t given) noexcept;
Text unexpected_keyword(const CallSignature& signature, std::string_view keyword) noexcept;
Text multiple_values(const CallSignature& signature, std::string_view keyword) noexcept;
Text positional_only_passed_as_keyword(const CallSignature& signature,
                                       std::span<const std::string_view> names) noexcept;
enum class MissingKind { Positional, Keyword };
Text missing_arguments(const CallSignature& signature, MissingKind kind,
                       std::span<const std::string_view> names) noexcept;
} // namespace binding_message

// Adds the note "while processing '{parameter}'" to the error of a failed
// conversion; returns it normalised. Never changes which exception it is.
[[gnu::cold, gnu::noinline]] PyErrValue annotate_argument_error(std::string_view parameter,
                                                                PyErrValue error) noexcept;

// The frame of every entry function: enter, bind, run `body` on the single
// bound value, raise an error value if one comes back, leave. `body` returns
// PyResult<PyRef> holding the new result object.
template <class Body>
PyObject* run_entry(const CallSignature& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, Body&& body) noexcept {
    EntryScope entry;
    PyObject* slot = nullptr;
    // One positional argument is the common call and cannot fail to bind:
    // every entry signature has exactly one parameter (asserted where the
    // signatures are generated).
    if (nargs == 1 && kwnames == nullptr) {
        slot = args[0];
    } else if (MaybeError error = bind_arguments(signature, args, nargs, kwnames, {&slot, 1})) {
        restore_error(std::move(*error));
        return nullptr;
    }
    PyResult<PyRef> result = body(slot);
    if (!result.ok()) {
        restore_error(result.take_error());
        return nullptr;
    }
    return result.value().release();
}

} // namespace talvora
