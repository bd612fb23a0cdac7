#!/usr/bin/env python3
"""tools/gen_interface.py: builds what the extension's Python interface is made
of from its one declarative description, src/module/interface.toml.

    gen_interface.py INTERFACE_TOML --header OUT.h

Loading turns the TOML into an `Interface` (modules, functions, parameters
with parsed annotations, docstrings, introspection numbers) and checks it;
each output is then an emitter, a function from the `Interface` to text,
registered in EMITTERS under the name of its command-line option.
"""

from __future__ import annotations

import argparse
import ast
import dataclasses
import pathlib
import sys
import tomllib

METHOD_FLAGS = "METH_FASTCALL | METH_KEYWORDS | METH_STATIC"


class InterfaceError(Exception):
    """The description is inconsistent; the message says where."""


@dataclasses.dataclass(frozen=True)
class Parameter:
    name: str
    annotation: str  # a Python expression over fully qualified names


@dataclasses.dataclass(frozen=True)
class Function:
    module: str
    name: str
    entry: str  # the C++ entry function, in namespace talvora
    parameters: tuple[Parameter, ...]
    returns: str
    body: str  # the docstring without its text-signature header
    introspection_symbol: int
    introspection_id: int

    @property
    def text_signature(self) -> str:
        return f"{self.name}({', '.join(p.name for p in self.parameters)})"

    @property
    def docstring(self) -> str:
        """The docstring as the interpreter stores it: header, "--", body."""
        return f"{self.text_signature}\n--\n\n{self.body}"

    @property
    def cpp_name(self) -> str:
        return f"{self.module}_{self.name}"

    @property
    def signature_key(self) -> tuple:
        """Functions with equal keys share one CallSignature record."""
        return (self.name, tuple(p.name for p in self.parameters))


@dataclasses.dataclass(frozen=True)
class Module:
    name: str
    doc: str
    members: tuple[Module | Function, ...]  # in the order the exec step adds them
    introspection_symbol: int
    introspection_id: int


@dataclasses.dataclass(frozen=True)
class Interface:
    modules: tuple[Module, ...]  # the top-level module first
    functions: tuple[Function, ...]

    @property
    def signatures(self) -> dict[tuple, Function]:
        """One representative function per distinct CallSignature."""
        shared: dict[tuple, Function] = {}
        for function in self.functions:
            shared.setdefault(function.signature_key, function)
        return shared


def _fields(table: dict, where: str, required: set[str]) -> dict:
    missing, unknown = required - table.keys(), table.keys() - required
    if missing or unknown:
        raise InterfaceError(f"{where}: missing {sorted(missing)}, unknown {sorted(unknown)}")
    return table


def _u64(text: str, where: str) -> int:
    if not (isinstance(text, str) and text.isdigit() and int(text) < 2**64 and str(int(text)) == text):
        raise InterfaceError(f"{where}: {text!r} is not an unsigned 64-bit number in decimal")
    return int(text)


def _annotation(text: str, where: str) -> str:
    """Only names, attributes, subscripts and | unions may appear."""
    try:
        tree = ast.parse(text, mode="eval")
    except SyntaxError as error:
        raise InterfaceError(f"{where}: {text!r} is not an expression") from error
    allowed = (ast.Expression, ast.Name, ast.Attribute, ast.Subscript, ast.BinOp, ast.BitOr, ast.Load)
    for node in ast.walk(tree):
        if not isinstance(node, allowed):
            raise InterfaceError(f"{where}: {type(node).__name__} not allowed in {text!r}")
    return text


def load_interface(path: pathlib.Path) -> Interface:
    with open(path, "rb") as file:
        raw = tomllib.load(file)
    _fields(raw, str(path), {"modules", "functions"})

    functions = []
    for i, table in enumerate(raw["functions"]):
        where = f"functions[{i}]"
        _fields(table, where, {"module", "name", "entry", "parameters", "returns", "doc",
                               "introspection_symbol", "introspection_id"})
        parameters = tuple(
            Parameter(p["name"], _annotation(p["annotation"], f"{where}.{p['name']}"))
            for p in (_fields(p, f"{where}.parameters", {"name", "annotation"}) for p in table["parameters"]))
        functions.append(Function(
            module=table["module"], name=table["name"], entry=table["entry"], parameters=parameters,
            returns=_annotation(table["returns"], f"{where}.returns"), body=table["doc"],
            introspection_symbol=_u64(table["introspection_symbol"], where),
            introspection_id=_u64(table["introspection_id"], where)))

    tables = raw["modules"]
    for i, table in enumerate(tables):
        _fields(table, f"modules[{i}]",
                {"name", "doc", "members", "introspection_symbol", "introspection_id"})
    names = [table["name"] for table in tables]
    built: dict[str, Module] = {}

    def build(name: str, parents: tuple[str, ...]) -> Module:
        if name in parents:
            raise InterfaceError(f"module {name} contains itself")
        if name not in built:
            table = tables[names.index(name)]
            members = []
            for member in table["members"]:
                if member in names:
                    members.append(build(member, parents + (name,)))
                    continue
                found = [f for f in functions if f.module == name and f.name == member]
                if len(found) != 1:
                    raise InterfaceError(f"module {name}: member {member} is no module or function of it")
                members.append(found[0])
            built[name] = Module(name, table["doc"], tuple(members),
                                 _u64(table["introspection_symbol"], name),
                                 _u64(table["introspection_id"], name))
        return built[name]

    build(names[0], ())
    if len(names) != len(set(names)) or set(built) != set(names):
        raise InterfaceError(f"every module but {names[0]} must be a member of exactly one module")
    listed = [m for module in built.values() for m in module.members if isinstance(m, Function)]
    if sorted(map(id, listed)) != sorted(map(id, functions)):
        raise InterfaceError("every function must be a member of its module exactly once")
    numbers = [n for item in (*built.values(), *functions)
               for n in (item.introspection_symbol, item.introspection_id)]
    if len(numbers) != len(set(numbers)):
        raise InterfaceError("introspection symbols and identifiers must all differ")
    for key, function in Interface((), tuple(functions)).signatures.items():
        if any(f.name == function.name and f.signature_key != key for f in functions):
            raise InterfaceError(f"functions named {function.name} must share one signature")
    return Interface(tuple(built[name] for name in names), tuple(functions))


def cpp_string(text: str) -> str:
    """A C++ string literal; UTF-8 stays as it is, the build reads sources as UTF-8."""
    escaped = text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n")
    if any(ord(c) < 0x20 for c in escaped):
        raise InterfaceError(f"control character in {text!r}")
    return f'"{escaped}"'


def emit_cpp_header(interface: Interface) -> str:
    """the C++ header: module ids, entry declarations, call signatures, function records"""
    out = [
        "// Generated by tools/gen_interface.py from src/module/interface.toml; do not edit.",
        "#pragma once",
        "",
        "#include <Python.h>",
        "",
        "#include <optional>",
        "#include <string_view>",
        "",
        '#include "module/call.h"',
        '#include "module/module.h"',
        "",
        "namespace talvora {",
        "",
        "enum class ModuleId : std::size_t {",
        *(f"    {module.name}," for module in interface.modules),
        "};",
        "",
        "// The entry function of each exported function.",
    ]
    for function in interface.functions:
        out.append(f"PyObject* {function.entry}(PyObject* module, PyObject* const* args, "
                   "Py_ssize_t nargs, PyObject* kwnames) noexcept;")
    out += ["", "namespace interface {", ""]

    for function in interface.signatures.values():
        names = ", ".join(cpp_string(p.name) for p in function.parameters)
        out += [
            f"inline constexpr std::string_view {function.name}_positional_names[] = {{{names}}};",
            f"inline constexpr CallSignature {function.name}_signature{{",
            f"    {cpp_string(function.name)}, std::nullopt, {function.name}_positional_names,",
            f"    0, {len(function.parameters)}, {{}}}};",
            "",
        ]

    out.append(f"static_assert(({METHOD_FLAGS}) == 0xa2);")
    for function in interface.functions:
        out += [
            f"inline PyMethodDef {function.cpp_name}_method{{",
            f"    {cpp_string(function.name)}, method_pointer({function.entry}), {METHOD_FLAGS},",
            f"    {cpp_string(function.docstring)}}};",
        ]
    out.append("")

    for module in interface.modules:
        members = ", ".join(f"ModuleId::{m.name}" if isinstance(m, Module) else f"&{m.cpp_name}_method"
                            for m in module.members)
        out.append(f"inline constexpr ModuleMember {module.name}_members[] = {{{members}}};")
    out += ["", "// Indexed by ModuleId.", "inline constexpr ModuleInterface modules[] = {"]
    for module in interface.modules:
        out.append(f"    {{{cpp_string(module.name)}, {cpp_string(module.doc)}, {module.name}_members}},")
    out += ["};", "", "} // namespace interface", "} // namespace talvora", ""]
    return "\n".join(out)


EMITTERS = {
    "header": emit_cpp_header,
}


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("interface", type=pathlib.Path, help="the interface.toml to read")
    for name, emitter in EMITTERS.items():
        parser.add_argument(f"--{name}", type=pathlib.Path, metavar="PATH", help=f"write {emitter.__doc__}")
    args = parser.parse_args(argv)
    try:
        interface = load_interface(args.interface)
    except InterfaceError as error:
        print(f"{args.interface}: {error}", file=sys.stderr)
        return 1
    for name, emitter in EMITTERS.items():
        if (path := getattr(args, name)) is not None:
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(emitter(interface), encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
