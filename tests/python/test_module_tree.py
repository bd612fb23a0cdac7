"""The module tree: members, __all__, docstrings and signatures, the submodule
cache, each submodule on its own, a second interpreter, the module
definitions, PanicException, and the library's exported symbols."""

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
from support import SHANNON

ROOT = pathlib.Path(__file__).resolve().parents[2]
INTERFACE = tomllib.loads((ROOT / "src/module/interface.toml").read_text())
SHANNON_ALL = ["measure_entropy", "measure_metric_entropy", "measure_normalized_metric_entropy"]
MODULES = {"talvora": talvora, "shannon_entropy_algo": SHANNON, "min_entropy_algo": talvora.min_entropy_algo}


def test_members_and_all():
    assert talvora.__all__ == ["shannon_entropy_algo", "min_entropy_algo", "ping"]
    assert SHANNON.__all__ == SHANNON_ALL
    assert talvora.min_entropy_algo.__all__ == ["measure_entropy"]
    for module in MODULES.values():
        assert [name for name in vars(module) if not name.startswith("__")] == module.__all__


def test_names_docstrings_and_signatures():
    assert talvora.__doc__ == ""
    for described in INTERFACE["modules"]:
        assert MODULES[described["name"]].__name__ == described["name"]
        assert MODULES[described["name"]].__doc__ == described["doc"]
    for described in INTERFACE["functions"]:
        function = getattr(MODULES[described["module"]], described["name"])
        assert function.__module__ == described["module"]
        # The interpreter splits the stored text-signature header off.
        assert function.__doc__ == (described["doc"] or None)
        parameters = ", ".join(p["name"] for p in described["parameters"])
        assert str(inspect.signature(function)) == f"({parameters})"


def test_submodules_are_attributes_not_packages():
    from talvora import shannon_entropy_algo

    assert shannon_entropy_algo is SHANNON and "shannon_entropy_algo" not in sys.modules
    with pytest.raises(ModuleNotFoundError):
        importlib.import_module("talvora.shannon_entropy_algo")


def test_reimport_reuses_the_cached_submodules(monkeypatch):
    monkeypatch.delitem(sys.modules, "talvora")
    again = importlib.import_module("talvora")
    assert again is not talvora and again.ping is not talvora.ping
    assert again.shannon_entropy_algo is SHANNON and again.min_entropy_algo is talvora.min_entropy_algo
    assert again.__all__ == talvora.__all__ and again.__all__ is not talvora.__all__
    assert SHANNON.__all__ == SHANNON_ALL


@pytest.mark.parametrize("name", ["shannon_entropy_algo", "min_entropy_algo"])
def test_each_submodule_loads_through_its_own_init_function(name):
    loader = importlib.machinery.ExtensionFileLoader(name, talvora.__file__)
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader(name, loader))
    loader.exec_module(module)
    assert module is not MODULES[name] and module.__name__ == name
    assert module.__all__ == MODULES[name].__all__
    for member in module.__all__:
        assert getattr(module, member).__module__ == name
        assert getattr(module, member)(b"hello world") == getattr(MODULES[name], member)(b"hello world")


def test_second_interpreter_is_refused_and_the_first_keeps_working():
    interpreters = pytest.importorskip("_interpreters")
    interpreter = interpreters.create(interpreters.new_config("legacy"))  # one that may load it at all
    try:
        failure = interpreters.exec(interpreter, f"import sys; sys.path[:0] = {sys.path!r}\nimport talvora")
    finally:
        interpreters.destroy(interpreter)
    assert failure.type.__name__ == "ImportError"
    assert failure.msg.startswith("PyO3 modules do not yet support subinterpreters, see https://")
    assert talvora.ping(2) == 4 and SHANNON.measure_entropy(b"ab") == 1.0


class ModuleDef(ctypes.Structure):
    _head = ("ob_refcnt", "ob_type", "m_init", "m_index", "m_copy")
    _fields_ = [(name, ctypes.c_void_p) for name in _head] + [
        ("m_name", ctypes.c_char_p),
        ("m_doc", ctypes.c_char_p),
        ("m_size", ctypes.c_ssize_t),
        ("m_methods", ctypes.c_void_p),
        ("m_slots", ctypes.POINTER(ctypes.c_void_p * 6)),  # three (id, value) pairs
        ("m_traverse", ctypes.c_void_p),
        ("m_clear", ctypes.c_void_p),
        ("m_free", ctypes.c_void_p),
    ]


@pytest.mark.parametrize("name", MODULES)
def test_module_definitions_declare_no_gil_and_only_an_exec_step(name):
    get_def = ctypes.pythonapi.PyModule_GetDef
    get_def.restype, get_def.argtypes = ctypes.POINTER(ModuleDef), [ctypes.py_object]
    definition = get_def(MODULES[name]).contents
    assert definition.m_name == name.encode() and definition.m_doc == MODULES[name].__doc__.encode()
    assert definition.m_size == 0 and not (definition.m_methods or definition.m_traverse or definition.m_free)
    exec_id, _, gil_id, gil, end, _ = (value or 0 for value in definition.m_slots.contents)
    assert (exec_id & 0xFFFFFFFF, gil_id & 0xFFFFFFFF, gil, end) == (2, 4, 1, 0)  # Py_mod_gil: NOT_USED


def test_panic_exception_exists_after_the_first_error():
    with pytest.raises(TypeError):
        talvora.ping("x")
    (panic,) = [c for c in BaseException.__subclasses__() if c.__name__ == "PanicException"]
    assert (panic.__module__, panic.__bases__) == ("pyo3_runtime", (BaseException,))
    first, second = panic.__doc__.split("\n\n")
    assert len(panic.__doc__) == 235 and first.count("\n") == 1 and second.count("\n") == 3


def test_only_the_init_functions_are_exported_and_libpython_is_not_needed():
    elffile = pytest.importorskip("elftools.elf.elffile")
    with open(talvora.__file__, "rb") as file:
        elf = elffile.ELFFile(file)
        exported = {
            s.name
            for s in elf.get_section_by_name(".dynsym").iter_symbols()
            if s["st_shndx"] != "SHN_UNDEF" and s["st_info"]["bind"] != "STB_LOCAL"
        }
        dynamic = elf.get_section_by_name(".dynamic").iter_tags()
        needed = [tag.needed for tag in dynamic if tag.entry.d_tag == "DT_NEEDED"]
    init = {f"PyInit_{name}" for name in MODULES}
    assert init <= exported and all(s in init or s.startswith("PYO3_INTROSPECTION_1_") for s in exported)
    assert not any("libpython" in library for library in needed)


# The published docstrings, header included; written out here so that an
# edit of the interface description cannot change them unnoticed.
PUBLISHED_DOCS = {
    "shannon_entropy_algo.measure_entropy": (
        "measure_entropy(data)\n"
        "--\n"
        "\n"
        "计算数据的香农熵 (Shannon entropy).\n"
        "\n"
        "衡量数据的随机性/信息密度：`H = -sum(p * log2(p))`.\n"
        "\n"
        "返回值：通常在 `0.0..=8.0` bits 之间。若数据为空则返回 `0.0`。"
    ),
    "shannon_entropy_algo.measure_metric_entropy": (
        "measure_metric_entropy(data)\n"
        "--\n"
        "\n"
        "计算标准的度量香农熵 (Metric Shannon entropy).\n"
        "\n"
        "将香农熵按 `8-bit` 最大 theoretical 熵 (`8.0` bits) 进行归一化。\n"
        "\n"
        "返回值：通常在 `0.0..=1.0` 之间。"
    ),
    "min_entropy_algo.measure_entropy": (
        "measure_entropy(data)\n"
        "--\n"
        "\n"
        "计算数据的最小熵 (Min-entropy: H_infinity).\n"
        "\n"
        "最小熵表示预测最可能出现的字节所需的比特数：`H_inf = -log2(max(P))`.\n"
        "\n"
        "返回值：通常在 `0.0..=8.0` bits 之间。若数据为空则返回 `0.0`。"
    ),
    "shannon_entropy_algo.measure_normalized_metric_entropy": (
        "measure_normalized_metric_entropy(data)\n"
        "--\n"
        "\n"
        "规范化缩放的香农熵 (Normalized Shannon entropy)。\n"
        "\n"
        "完全随机数据的返回值紧密分布在 `1.0` 周围。\n"
        "\n"
        "返回值：通常在 `0.0..=1.0` 之间。有些故意编写的数据会导致结果超过 `1.0`。"
    ),
    "talvora.ping": "ping(x)\n--\n\n",
}


@pytest.mark.parametrize("path", PUBLISHED_DOCS)
def test_docstrings_are_the_published_texts(path):
    module, name = path.split(".")
    function = getattr(MODULES[module], name)
    header, _, body = PUBLISHED_DOCS[path].partition("\n--\n\n")
    assert f"{name}{function.__text_signature__}" == header
    assert function.__doc__ == (body or None)


def test_module_docstrings_are_the_published_texts():
    assert [module.__doc__ for module in MODULES.values()] == [
        "",
        "Shannon entropy algorithm module",
        "Min entropy algorithm module",
    ]
