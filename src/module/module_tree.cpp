// src/module/module_tree.cpp: the three module definitions, their exec
// functions and the exported init functions.
#include <array>
#include <utility>

#include "generated/interface.h"

namespace talvora {
namespace {

MaybeError add_members(PyObject* module, std::span<const ModuleMember> members) noexcept {
    for (const ModuleMember& member : members) {
        MaybeError error =
            std::holds_alternative<ModuleId>(member)
                ? add_submodule(module, module_definition(std::get<ModuleId>(member)))
                : add_function(module, *std::get<PyMethodDef*>(member));
        if (error) return error;
    }
    return std::nullopt;
}

template <std::size_t I> int exec_module(PyObject* module) noexcept {
    return run_exec_step(module, [](PyObject* filled) noexcept {
        return add_members(filled, interface::modules[I].members);
    });
}

template <std::size_t I>
PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module<I>)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

template <std::size_t... I>
constexpr std::array<ModuleDefinition, sizeof...(I)>
make_definitions(std::index_sequence<I...>) noexcept {
    return {ModuleDefinition(interface::modules[I].name, interface::modules[I].doc,
                             module_slots<I>)...};
}

constinit std::array<ModuleDefinition, std::size(interface::modules)> definitions =
    make_definitions(std::make_index_sequence<std::size(interface::modules)>{});

PyObject* init_module(ModuleId id) noexcept {
    return PyModuleDef_Init(&module_definition(id).def);
}

} // namespace

ModuleDefinition& module_definition(ModuleId id) noexcept {
    return definitions[static_cast<std::size_t>(id)];
}

} // namespace talvora

PyMODINIT_FUNC PyInit_talvora() {
    return talvora::init_module(talvora::ModuleId::talvora);
}

PyMODINIT_FUNC PyInit_shannon_entropy_algo() {
    return talvora::init_module(talvora::ModuleId::shannon_entropy_algo);
}

PyMODINIT_FUNC PyInit_min_entropy_algo() {
    return talvora::init_module(talvora::ModuleId::min_entropy_algo);
}
