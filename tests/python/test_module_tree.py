"""The module tree: attributes, __all__, docstrings and signatures, the
submodule cache, loading each submodule on its own, a second interpreter,
the shape of the module definitions, and the library's exported symbols."""

import ctypes
import importlib
import importlib.machinery
import importlib.util
import inspect
import pathlib
import sys
import tomllib

import pytest

import talvora
from support import MEASURES, SHANNON

ROOT = pathlib.Path(__file__).resolve().parents[2]
INTERFACE = tomllib.loads((ROOT / "src/module/interface.toml").read_text())
MODULES = {module["name"]: module for module in INTERFACE["modules"]}
FUNCTIONS = {(f["module"], f["name"]): f for f in INTERFACE["functions"]}


def test_members_and_all():
    assert talvora.__all__ == ["shannon_entropy_algo", "min_entropy_algo", "ping"]
    assert SHANNON.__all__ == [
        "measure_entropy",
        "measure_metric_entropy",
        "measure_normalized_metric_entropy",
    ]
    assert talvora.min_entropy_algo.__all__ == ["measure_entropy"]
    for module in (talvora, SHANNON, talvora.min_entropy_algo):
        assert [name for name in vars(module) if not name.startswith("__")] == module.__all__


def test_names_modules_and_docstrings():
    assert talvora.__doc__ == ""
    assert SHANNON.__name__ == "shannon_entropy_algo"
    assert talvora.min_entropy_algo.__name__ == "min_entropy_algo"
    for name, module in MODULES.items():
        assert (talvora if name == "talvora" else getattr(talvora, name)).__doc__ == module["doc"]
    assert talvora.ping.__module__ == "talvora"
    # METH_STATIC: the module is the record's self, but Python shows none.
    assert talvora.ping.__self__ is None
    for (module_name, name), function in FUNCTIONS.items():
        module = talvora if module_name == "talvora" else getattr(talvora, module_name)
        obj = getattr(module, name)
        assert obj.__module__ == module_name
        # The interpreter splits the stored text-signature header off.
        assert obj.__doc__ == (function["doc"] or None)
        parameters = ", ".join(p["name"] for p in function["parameters"])
        assert obj.__text_signature__ == f"({parameters})"
        assert str(inspect.signature(obj)) == f"({parameters})"


def test_submodules_are_not_packages_or_sys_modules_entries():
    from talvora import shannon_entropy_algo

    assert shannon_entropy_algo is SHANNON
    assert "shannon_entropy_algo" not in sys.modules
    assert not hasattr(talvora, "__path__")
    with pytest.raises(ModuleNotFoundError):
        importlib.import_module("talvora.shannon_entropy_algo")


def test_reimport_reuses_the_cached_submodules(monkeypatch):
    monkeypatch.delitem(sys.modules, "talvora")
    again = importlib.import_module("talvora")
    assert again is not talvora
    assert again.shannon_entropy_algo is talvora.shannon_entropy_algo
    assert again.min_entropy_algo is talvora.min_entropy_algo
    assert again.ping is not talvora.ping
    assert again.__all__ == talvora.__all__ and again.__all__ is not talvora.__all__
    assert SHANNON.__all__ == ["measure_entropy", "measure_metric_entropy", "measure_normalized_metric_entropy"]


def load_on_its_own(name):
    path = talvora.__file__
    loader = importlib.machinery.ExtensionFileLoader(name, path)
    spec = importlib.util.spec_from_file_location(name, path, loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


@pytest.mark.parametrize("name", ["shannon_entropy_algo", "min_entropy_algo"])
def test_each_submodule_loads_through_its_own_init_function(name):
    module = load_on_its_own(name)
    cached = getattr(talvora, name)
    assert module is not cached
    assert module.__name__ == name and module.__doc__ == cached.__doc__
    assert module.__all__ == cached.__all__
    for member in module.__all__:
        function = getattr(module, member)
        assert function.__module__ == name
        assert function(b"hello world") == getattr(cached, member)(b"hello world")


def run_in_new_interpreter(code, config):
    interpreters = pytest.importorskip("_interpreters")
    interpreter = interpreters.create(interpreters.new_config(config))
    try:
        return interpreters.exec(interpreter, f"import sys; sys.path[:0] = {sys.path!r}\n{code}")
    finally:
        interpreters.destroy(interpreter)


def test_second_interpreter_is_refused_and_the_first_keeps_working():
    failure = run_in_new_interpreter("import talvora", "legacy")
    assert failure is not None and failure.type.__name__ == "ImportError"
    assert failure.msg.startswith("PyO3 modules do not yet support subinterpreters, see https://")
    assert talvora.ping(2) == 4 and SHANNON.measure_entropy(b"ab") == 1.0


def test_interpreter_with_its_own_gil_cannot_load_the_module():
    failure = run_in_new_interpreter("import talvora", "isolated")
    assert failure is not None and failure.type.__name__ == "ImportError"


class ModuleDefSlot(ctypes.Structure):
    _fields_ = [("slot", ctypes.c_int), ("value", ctypes.c_void_p)]


class ModuleDef(ctypes.Structure):
    _fields_ = [
        ("ob_refcnt", ctypes.c_ssize_t),
        ("ob_type", ctypes.c_void_p),
        ("m_init", ctypes.c_void_p),
        ("m_index", ctypes.c_ssize_t),
        ("m_copy", ctypes.c_void_p),
        ("m_name", ctypes.c_char_p),
        ("m_doc", ctypes.c_char_p),
        ("m_size", ctypes.c_ssize_t),
        ("m_methods", ctypes.c_void_p),
        ("m_slots", ctypes.POINTER(ModuleDefSlot)),
        ("m_traverse", ctypes.c_void_p),
        ("m_clear", ctypes.c_void_p),
        ("m_free", ctypes.c_void_p),
    ]


class MethodDef(ctypes.Structure):
    _fields_ = [
        ("ml_name", ctypes.c_char_p),
        ("ml_meth", ctypes.c_void_p),
        ("ml_flags", ctypes.c_int),
        ("ml_doc", ctypes.c_char_p),
    ]


PY_MOD_EXEC, PY_MOD_GIL, PY_MOD_GIL_NOT_USED = 2, 4, 1


@pytest.mark.parametrize("name", ["talvora", "shannon_entropy_algo", "min_entropy_algo"])
def test_module_definitions(name):
    get_def = ctypes.pythonapi.PyModule_GetDef
    get_def.restype, get_def.argtypes = ctypes.POINTER(ModuleDef), [ctypes.py_object]
    module = talvora if name == "talvora" else getattr(talvora, name)
    definition = get_def(module).contents
    assert definition.m_name == name.encode()
    assert definition.m_doc == MODULES[name]["doc"].encode()  # "" for talvora, not NULL
    assert definition.m_size == 0 and not definition.m_methods
    assert not (definition.m_traverse or definition.m_clear or definition.m_free)
    slots = [(s.slot, s.value) for s in definition.m_slots[:3]]
    assert [slot for slot, _ in slots] == [PY_MOD_EXEC, PY_MOD_GIL, 0]
    assert slots[1][1] == PY_MOD_GIL_NOT_USED and slots[2][1] is None


@pytest.mark.parametrize("function", [talvora.ping, *MEASURES.values()], ids=lambda f: f.__name__)
def test_function_records_use_fastcall_with_keywords(function):
    # PyCFunctionObject: the object header, then m_ml.
    record = ctypes.cast(id(function) + 2 * ctypes.sizeof(ctypes.c_void_p),
                         ctypes.POINTER(ctypes.POINTER(MethodDef)))[0].contents
    assert record.ml_flags == 0xA2  # METH_FASTCALL | METH_KEYWORDS | METH_STATIC
    assert record.ml_name == function.__name__.encode()
    assert record.ml_doc.decode().startswith(f"{function.__name__}{function.__text_signature__}\n--\n\n")


def test_panic_exception_type_exists_after_the_first_error():
    with pytest.raises(TypeError):
        talvora.ping("x")
    (panic,) = [c for c in BaseException.__subclasses__() if c.__name__ == "PanicException"]
    assert panic.__module__ == "pyo3_runtime" and panic.__qualname__ == "PanicException"
    assert panic.__bases__ == (BaseException,)
    doc = panic.__doc__
    assert len(doc) == 235
    first, second = doc.split("\n\n")
    assert first.startswith("\n") and "\n" not in first[1:]
    assert second.endswith("\n") and second.count("\n") == 3


def test_exported_symbols_and_no_libpython():
    elftools = pytest.importorskip("elftools.elf.elffile")
    with open(talvora.__file__, "rb") as file:
        elf = elftools.ELFFile(file)
        dynsym = elf.get_section_by_name(".dynsym")
        exported = {
            symbol.name
            for symbol in dynsym.iter_symbols()
            if symbol["st_shndx"] != "SHN_UNDEF" and symbol["st_info"]["bind"] != "STB_LOCAL"
        }
        needed = [tag.needed for tag in elf.get_section_by_name(".dynamic").iter_tags() if tag.entry.d_tag == "DT_NEEDED"]
    functions = {"PyInit_talvora", "PyInit_shannon_entropy_algo", "PyInit_min_entropy_algo"}
    assert functions <= exported
    assert all(name in functions or name.startswith("PYO3_INTROSPECTION_1_") for name in exported)
    assert not any("libpython" in name for name in needed)
