// src/module/module.h: the module tree: one ModuleDefinition per module, the
// exec step that fills a module, and the operations it fills it with.
#pragma once

#include <Python.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>

#include "module/call.h"
#include "module/errors.h"
#include "module/once_cell.h"

namespace talvora {

// The modules, numbered by the generated interface.
enum class ModuleId : std::size_t;

// One static record per module, at a fixed address for the whole process.
struct ModuleDefinition {
    constexpr ModuleDefinition(const char* name, const char* doc, PyModuleDef_Slot* slots) noexcept
        : def{PyModuleDef_HEAD_INIT, name, doc, 0, nullptr, slots, nullptr, nullptr, nullptr} {}

    // The module object made from this definition when it was first attached
    // as a submodule; every later parent receives the same object.
    InterpreterOnceCell cached_module;
    PyModuleDef def;
    // The interpreter that first attached this module as a submodule, -1
    // until then. Changed only by compare-and-swap.
    std::atomic<std::int64_t> owner_interpreter{-1};
};

// What an exec step adds to its module: a submodule or a function.
using ModuleMember = std::variant<ModuleId, PyMethodDef*>;

struct ModuleInterface {
    const char* name;
    const char* doc;
    std::span<const ModuleMember> members; // in the order they are added
};

ModuleDefinition& module_definition(ModuleId id) noexcept;

// An entry function as the ml_meth of a METH_FASTCALL | METH_KEYWORDS record.
inline PyCFunction method_pointer(EntryFunction entry) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry));
}

using ExecBody = MaybeError (*)(PyObject* module) noexcept;
// The boundary around an exec body: the entry-point protocol, the module
// checks, and the error raised as the step's exception. 0 or -1.
int run_exec_step(PyObject* module, ExecBody body) noexcept;

// Attaches the (cached) submodule of `definition` to `parent`; refuses an
// interpreter other than the first one that did so.
MaybeError add_submodule(PyObject* parent, ModuleDefinition& definition) noexcept;
// Creates the function object of `function` for `module` and attaches it.
MaybeError add_function(PyObject* module, PyMethodDef& function) noexcept;
// Records `name` in the module's __all__ and sets the attribute.
MaybeError add_member(PyObject* module, PyObject* name, PyObject* value) noexcept;

} // namespace talvora
