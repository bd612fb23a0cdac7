#!/usr/bin/env python3
"""tools/gen_interface.py: builds what the extension's Python interface is made
of from its one declarative description, src/module/interface.toml.

    gen_interface.py INTERFACE_TOML [--header OUT.h] [--records OUT.cpp] [--stubs DIR]

Loading turns the TOML into an `Interface` (modules, functions, parameters
with parsed annotations, docstrings, introspection numbers) and checks it;
each output is then an emitter, a function from the `Interface` to the text
of one file, or to the files of a directory by name, registered in EMITTERS
under the name of its command-line option.
"""

from __future__ import annotations

import argparse
import ast
import dataclasses
import json
import pathlib
import struct
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


@dataclasses.dataclass(frozen=True)
class Module:
    name: str
    doc: str
    members: tuple[Module | Function, ...]  # in the order the exec step adds them
    introspection_symbol: int
    introspection_id: int
    introspection_incomplete: bool


@dataclasses.dataclass(frozen=True)
class Interface:
    modules: tuple[Module, ...]  # the top-level module first
    functions: tuple[Function, ...]

    @property
    def signatures(self) -> dict[str, Function]:
        """One representative function per CallSignature record; functions of
        the same name share one (load_interface checks that they may)."""
        shared: dict[str, Function] = {}
        for function in self.functions:
            shared.setdefault(function.name, function)
        return shared


def _fields(table: dict, where: str, required: set[str]) -> dict:
    missing, unknown = required - table.keys(), table.keys() - required
    if missing or unknown:
        raise InterfaceError(f"{where}: missing {sorted(missing)}, unknown {sorted(unknown)}")
    return table


def _u64(text: str, where: str) -> int:
    if not (isinstance(text, str) and text.isdecimal() and int(text) < 2**64 and str(int(text)) == text):
        raise InterfaceError(f"{where}: {text!r} is not an unsigned 64-bit number in decimal")
    return int(text)


def _annotation(text: str, where: str) -> str:
    """Only qualified names, subscripts and | unions may appear."""
    try:
        annotation_node(text)
    except SyntaxError as error:
        raise InterfaceError(f"{where}: {text!r} is not an expression") from error
    except ValueError as error:
        raise InterfaceError(f"{where}: {error} in {text!r}") from error
    return text


def _qualified_name(node: ast.expr) -> tuple[str, str]:
    """`collections.abc.Sequence` as ("collections.abc", "Sequence")."""
    if not isinstance(node, ast.Attribute):
        raise ValueError(f"{ast.unparse(node)} is not a name qualified by its module")
    module, parts = node.value, []
    while isinstance(module, ast.Attribute):
        parts.append(module.attr)
        module = module.value
    if not isinstance(module, ast.Name):
        raise ValueError(f"{ast.unparse(node)} is not a name qualified by its module")
    return ".".join([module.id, *reversed(parts)]), node.attr


def _annotation_tree(text: str) -> ast.expr:
    return ast.parse(text, mode="eval").body


def _expression_node(node: ast.expr) -> dict:
    """An annotation as the record's expression node: "type" first, then the
    other keys in their fixed (not alphabetical) order."""
    match node:
        case ast.BinOp(left=left, op=ast.BitOr(), right=right):
            return {"type": "binop", "left": _expression_node(left), "op": "bitor",
                    "right": _expression_node(right)}
        case ast.Subscript(value=value, slice=subscript):
            return {"type": "subscript", "value": _expression_node(value), "slice": _expression_node(subscript)}
        case _:
            module, name = _qualified_name(node)
            return {"type": "attribute", "value": {"type": "name", "id": module}, "attr": name}


def annotation_node(text: str) -> dict:
    return _expression_node(_annotation_tree(text))


def load_interface(path: pathlib.Path) -> Interface:
    with open(path, "rb") as file:
        raw = tomllib.load(file)
    _fields(raw, str(path), {"modules", "functions"})

    functions = []
    for i, table in enumerate(raw["functions"]):
        where = f"functions[{i}]"
        _fields(table, where, {"module", "name", "entry", "parameters", "returns", "doc",
                               "introspection_symbol", "introspection_id"})
        parameters = []
        for parameter in table["parameters"]:
            _fields(parameter, f"{where}.parameters", {"name", "annotation"})
            annotation = _annotation(parameter["annotation"], f"{where}.{parameter['name']}")
            parameters.append(Parameter(parameter["name"], annotation))
        functions.append(Function(
            module=table["module"], name=table["name"], entry=table["entry"], parameters=tuple(parameters),
            returns=_annotation(table["returns"], f"{where}.returns"), body=table["doc"],
            introspection_symbol=_u64(table["introspection_symbol"], where),
            introspection_id=_u64(table["introspection_id"], where)))

    tables = raw["modules"]
    for i, table in enumerate(tables):
        _fields(table, f"modules[{i}]", {"name", "doc", "members", "introspection_symbol", "introspection_id",
                                         "introspection_incomplete"})
        if not isinstance(table["introspection_incomplete"], bool):
            raise InterfaceError(f"modules[{i}]: introspection_incomplete must be true or false")
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
                                 _u64(table["introspection_symbol"], name), _u64(table["introspection_id"], name),
                                 table["introspection_incomplete"])
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
    first_of_name: dict[str, Function] = {}
    for function in functions:
        first = first_of_name.setdefault(function.name, function)
        if [p.name for p in first.parameters] != [p.name for p in function.parameters]:
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
            "// The entry frame binds exactly one argument.",
            f"static_assert({function.name}_signature.positional_names.size() == 1 &&",
            f"              {function.name}_signature.slot_count() == 1);",
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


RECORD_SYMBOL_PREFIX = "PYO3_INTROSPECTION_1_"


def _record(fields: dict) -> dict:
    """Top-level keys in alphabetical order; a key whose value is empty is left out."""
    return {key: fields[key] for key in sorted(fields) if fields[key] not in ("", [])}


def module_record(module: Module) -> dict:
    return _record({
        "doc": module.doc,
        "id": str(module.introspection_id),
        "incomplete": module.introspection_incomplete,
        "members": [str(member.introspection_id) for member in module.members],
        "name": module.name,
        "type": "module",
    })


def function_record(function: Function) -> dict:
    return _record({
        "arguments": {"args": [{"annotation": annotation_node(p.annotation), "name": p.name}
                               for p in function.parameters]},
        "doc": function.body,
        "id": str(function.introspection_id),
        "name": function.name,
        "returns": annotation_node(function.returns),
        "type": "function",
    })


def record_json(record: dict) -> str:
    """Compact, raw UTF-8; json escapes newlines and quotes inside strings."""
    return json.dumps(record, ensure_ascii=False, separators=(",", ":"))


def record_bytes(text: str) -> bytes:
    """The length (u32, little-endian), the UTF-8 text, zeros up to a multiple of 4."""
    data = text.encode("utf-8")
    blob = struct.pack("<I", len(data)) + data
    return blob + bytes(-len(blob) % 4)


def emit_records(interface: Interface) -> str:
    """the C++ source of the exported introspection records"""
    out = [
        "// Generated by tools/gen_interface.py from src/module/interface.toml; do not edit.",
        "// One JSON record per module and function, for tools that read the library",
        "// file without loading it. Byte arrays rather than string literals keep each",
        "// symbol's size exactly that of its record (no terminating NUL).",
    ]
    items = [(module, module_record(module)) for module in interface.modules]
    items += [(function, function_record(function)) for function in interface.functions]
    for item, record in items:
        text = record_json(record)
        blob = record_bytes(text)
        rows = (", ".join(f"0x{byte:02x}" for byte in blob[i:i + 16]) for i in range(0, len(blob), 16))
        out += [
            "",
            f"// {text}",
            f'extern "C" [[gnu::visibility("default")]] alignas(4) const unsigned char',
            f"    {RECORD_SYMBOL_PREFIX}{item.introspection_symbol}[{len(blob)}] = {{",
            *(f"        {row}," for row in rows),
            "};",
        ]
    return "\n".join(out) + "\n"


def _stub_expression(node: ast.expr, imports: set[str]) -> str:
    """An annotation as stub source; builtins stay bare, other modules are imported."""
    match node:
        case ast.BinOp(left=left, op=ast.BitOr(), right=right):
            return f"{_stub_expression(left, imports)} | {_stub_expression(right, imports)}"
        case ast.Subscript(value=value, slice=subscript):
            return f"{_stub_expression(value, imports)}[{_stub_expression(subscript, imports)}]"
        case _:
            module, name = _qualified_name(node)
            if module == "builtins":
                return name
            imports.add(module)
            return f"{module}.{name}"


def _docstring(text: str, indent: str) -> str:
    escaped = text.replace("\\", "\\\\").replace('"', '\\"')
    lines = escaped.split("\n")
    body = "\n".join([lines[0], *(f"{indent}{line}" if line else "" for line in lines[1:])])
    return f'{indent}"""{body}"""' if len(lines) == 1 else f'{indent}"""{body}\n{indent}"""'


def _stub_function(function: Function, imports: set[str]) -> list[str]:
    parameters = ", ".join(f"{p.name}: {_stub_expression(_annotation_tree(p.annotation), imports)}"
                           for p in function.parameters)
    header = f"def {function.name}({parameters}) -> {_stub_expression(_annotation_tree(function.returns), imports)}:"
    return [header, _docstring(function.body, "    ")] if function.body else [f"{header} ..."]


def _stub_module(module: Module) -> str:
    """Sections apart by a blank line: header, imports, __all__, one per function."""
    imports: set[str] = set()
    functions = [_stub_function(m, imports) for m in module.members if isinstance(m, Function)]
    header = ["# Generated by tools/gen_interface.py from src/module/interface.toml; do not edit."]
    if module.doc:
        header.append(_docstring(module.doc, ""))
    imported = [f"import {name}" for name in sorted(imports)]
    imported += [f"from . import {m.name} as {m.name}" for m in module.members if isinstance(m, Module)]
    exported = [f"__all__ = [{', '.join(json.dumps(m.name) for m in module.members)}]"]
    return "\n\n".join("\n".join(section) for section in (header, imported, exported, *functions) if section) + "\n"


def emit_stubs(interface: Interface) -> dict[str, str]:
    """the stub package: one .pyi per module, submodules as modules of the package"""
    files: dict[str, str] = {}

    def place(module: Module, path: tuple[str, ...]) -> None:
        submodules = [m for m in module.members if isinstance(m, Module)]
        name = "/".join([*path, "__init__.pyi"] if submodules or not path else [*path[:-1], f"{path[-1]}.pyi"])
        files[name] = _stub_module(module)
        for submodule in submodules:
            place(submodule, (*path, submodule.name))

    place(interface.modules[0], ())
    return files


EMITTERS = {
    "header": emit_cpp_header,
    "records": emit_records,
    "stubs": emit_stubs,
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
            write_output(path, emitter(interface))
    return 0


def write_output(path: pathlib.Path, content: str | dict[str, str]) -> None:
    """One file, or a directory of files; stale .pyi files in it go, so an
    installed stub package never describes a module that is gone."""
    if isinstance(content, str):
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(content, encoding="utf-8")
        return
    for stale in path.rglob("*.pyi") if path.is_dir() else ():
        if stale.relative_to(path).as_posix() not in content:
            stale.unlink()
    for name, text in content.items():
        write_output(path / name, text)


if __name__ == "__main__":
    sys.exit(main())
