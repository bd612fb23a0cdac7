"""The types: stubs of _native as nanobind's stubgen makes them, stubtest on
the package, mypy --strict on user code, and the extension's exported
symbols."""

import os
import pathlib
import re
import subprocess
import sys

import pytest

import talvora_tools
from support import DEBUG_INTERPRETER, SANITIZED

HERE = pathlib.Path(__file__).resolve().parent
SOURCE = HERE.parents[2] / "python" / "talvora_tools"
BUILT = pathlib.Path(talvora_tools.__file__).resolve().parent
NATIVE = next(BUILT.glob("_native*.so"))

# User code that mypy --strict must refuse, one error each.
REFUSED = [
    "talvora_tools.histogram(1.5)",
    "talvora_tools.report(data=None)",
    "Histogram().merge(b'x')",
    "talvora_tools.report_file(path, offset='1')",
    "talvora_tools.report_file(path, 5)",
    "report.n = 5",
    "report.entropy",
    "talvora_tools.scan(b'x', 1.5)",
    "talvora_tools.scan_file(path, 16, 4, 0)",
    "talvora_tools.scan(b'x', 4).regions(0.5, 10)",
    "talvora_tools.scan(b'x', 4).edges(rising='high')",
    "talvora_tools.dask.histogram(b'x')",
    "talvora_tools.dask.scan_file(path, 16, chunk_size='big')",
    "talvora_tools.cli.main('report')",
    "talvora_tools.sp800_90b.non_iid(b'', bits='4')",
    "talvora_tools.sp800_90b.iid(b'', 4, 10)",
    "talvora_tools.sp800_90b.restart(b'', h_initial='3')",
]

# mypy and stubgen run on the release interpreter only (as in test_packaging).
release_only = pytest.mark.skipif(DEBUG_INTERPRETER or SANITIZED, reason="runs on the release interpreter only")


def run(command, **options):
    result = subprocess.run(command, capture_output=True, text=True,
                            env={**os.environ, "PYTHONPATH": str(BUILT.parent)}, **options)
    return result.returncode, result.stdout + result.stderr


@release_only
def test_committed_stubs_are_what_stubgen_makes(tmp_path):
    out = tmp_path / "_native.pyi"
    code, output = run([sys.executable, "-m", "nanobind.stubgen", "-q", "-P", "-m",
                        "talvora_tools._native", "-o", str(out)])
    assert code == 0, output
    assert out.read_text() == (SOURCE / "_native.pyi").read_text(), \
        "the binding changed: rebuild the target talvora_tools_stubs and commit the stubs"


@pytest.mark.slow
@release_only
def test_stubtest_finds_no_difference(tmp_path):
    code, output = run([sys.executable, "-m", "mypy.stubtest", "--ignore-disjoint-bases",
                        "--allowlist", str(HERE / "stubtest_allowlist.txt"), "talvora_tools"], cwd=tmp_path)
    assert code == 0 and "Success: no issues found" in output, output


@pytest.mark.slow
@release_only
def test_mypy_strict_accepts_user_code_and_refuses_misuse(tmp_path):
    example = (HERE / "user_example.py").read_text()
    lines = example.splitlines()
    first_refused = len(lines) + 3
    misuse = ["", "def misuse(path: pathlib.Path, report: Report) -> None:",
              *(f"    {line}" for line in REFUSED)]
    (tmp_path / "example.py").write_text("\n".join(lines + misuse) + "\n")
    code, output = run([sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--cache-dir",
                        os.devnull, "example.py"], cwd=tmp_path)
    reported = {int(n) for n in re.findall(r"^example\.py:(\d+): error:", output, re.MULTILINE)}
    assert reported == set(range(first_refused, first_refused + len(REFUSED))), output


def test_the_extension_exports_only_its_init_function():
    elffile = pytest.importorskip("elftools.elf.elffile")
    with open(NATIVE, "rb") as f:
        symbols = elffile.ELFFile(f).get_section_by_name(".dynsym").iter_symbols()
        defined = {s.name for s in symbols if s.name and s["st_shndx"] != "SHN_UNDEF"}
    assert defined == {"PyInit__native"}
