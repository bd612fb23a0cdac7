"""The type stubs agree with the extension and are found by mypy, both next to
the built extension and installed from a wheel."""

import json
import os
import pathlib
import re
import subprocess
import sys
import tarfile
import venv
import zipfile

import pytest

import talvora
import talvora_tools
from support import DEBUG_INTERPRETER, SANITIZED

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILT = pathlib.Path(talvora.__file__).resolve().parent
STUB_FILES = {"talvora-stubs/__init__.pyi", "talvora-stubs/shannon_entropy_algo.pyi",
              "talvora-stubs/min_entropy_algo.pyi"}
TOOLS_FILES = {"talvora_tools/__init__.py", "talvora_tools/_native.pyi", "talvora_tools/py.typed",
               "talvora_tools/__main__.py", "talvora_tools/cli/app.py", "talvora_tools/dask.py"}

# mypy is not built for the debug interpreter, and the sanitizer runtime
# preloaded into the sanitized run would reach every compiler the wheel build
# starts: these checks run once, on the release interpreter.
pytestmark = [
    pytest.mark.slow,
    pytest.mark.skipif(DEBUG_INTERPRETER or SANITIZED, reason="runs on the release interpreter only"),
]

# Each line after the header either type-checks cleanly or must be reported.
SNIPPET_HEADER = ["from typing import assert_type", "import talvora", "from talvora import min_entropy_algo",
                  "import talvora_tools"]
ACCEPTED = [
    "assert_type(talvora.shannon_entropy_algo.measure_entropy(b'x'), float)",
    "assert_type(talvora.shannon_entropy_algo.measure_metric_entropy('text'), float)",
    "assert_type(talvora.shannon_entropy_algo.measure_normalized_metric_entropy(bytearray(3)), float)",
    "assert_type(min_entropy_algo.measure_entropy(data=[1, 2, 3]), float)",
    "assert_type(talvora.ping(21), int)",
    "assert_type(talvora_tools.report(b'x').chi_square, float)",
]
REFUSED = [
    "talvora.shannon_entropy_algo.measure_entropy(1.5)",
    "min_entropy_algo.measure_entropy([1.5])",
    "talvora.shannon_entropy_algo.measure_metric_entropy(dat=b'x')",
    "talvora.ping('21')",
    "talvora.shannon_entropy_algo.measure_min_entropy(b'x')",
    "talvora_tools.histogram(1.5)",
]


def run(command, **options):
    """Runs a command that must succeed and returns its standard output; a
    failure shows all that it wrote."""
    result = subprocess.run(command, capture_output=True, text=True, **options)
    assert result.returncode == 0, f"{command}:\n{result.stdout}{result.stderr}"
    return result.stdout


def check_snippet(python, workdir, env=None):
    """Runs mypy (strict) on ACCEPTED and REFUSED lines; returns the line
    numbers it reported and its output."""
    snippet = workdir / "snippet.py"
    snippet.write_text("\n".join(SNIPPET_HEADER + ACCEPTED + REFUSED) + "\n")
    result = subprocess.run(
        [python, "-m", "mypy", "--strict", "--no-error-summary", "--cache-dir", os.devnull, snippet.name],
        cwd=workdir, env=env, capture_output=True, text=True)
    reported = {int(n) for n in re.findall(r"^snippet\.py:(\d+): error:", result.stdout, re.MULTILINE)}
    return reported, result.stdout + result.stderr


def assert_snippet_checked(reported, output):
    first_refused = len(SNIPPET_HEADER) + len(ACCEPTED) + 1
    assert reported == set(range(first_refused, first_refused + len(REFUSED))), output


def built_tree_env():
    """The extension under test and its stubs, seen from any directory."""
    return {**os.environ, "PYTHONPATH": str(BUILT)}


def test_stubtest_finds_no_difference_from_the_extension(tmp_path):
    output = run([sys.executable, ROOT / "tools/stubtest.py"], cwd=tmp_path, env=built_tree_env())
    assert "no issues found in 3 modules" in output


def test_mypy_uses_the_stubs_next_to_the_extension(tmp_path):
    assert (BUILT / "talvora-stubs/__init__.pyi").is_file()
    assert_snippet_checked(*check_snippet(sys.executable, tmp_path, built_tree_env()))


def build_env():
    env = {key: value for key, value in os.environ.items() if key != "PYTHONPATH"}
    env["CMAKE_BUILD_PARALLEL_LEVEL"] = os.environ.get("TALVORA_JOBS", "2")
    return env


def install_into_fresh_venv(tmp_path, target, env):
    """pip-installs `target` (a wheel or the source tree) into a new venv and
    measures with it from outside the checkout; returns (python, that dir)."""
    venv.create(tmp_path / "venv", system_site_packages=True, with_pip=True)
    python = str(tmp_path / "venv/bin/python")
    run([python, "-m", "pip", "install", "--no-build-isolation", "--no-index", "--quiet", target], env=env)
    work = tmp_path / "elsewhere"
    work.mkdir()
    used = run([python, "-c", "import talvora, talvora_tools; print(talvora.__file__);"
                "print(talvora.shannon_entropy_algo.measure_entropy(b'hello world').hex());"
                "print(talvora_tools.__file__); print(talvora_tools.report(b'hello world').shannon.hex())"],
               cwd=work, env=env).split()
    installed = str(tmp_path / "venv/lib/python3.14/site-packages/")
    assert used[0].startswith(installed) and used[2].startswith(installed)
    assert used[1] == used[3] == (2.8453509366224368).hex()
    # The console script the wheel installs.
    (work / "sample.bin").write_bytes(b"hello world" * 1000)
    printed = json.loads(run([tmp_path / "venv/bin/talvora", "--json", "sample.bin"], cwd=work, env=env))
    assert printed == {"path": "sample.bin", **talvora_tools.report(b"hello world" * 1000).as_dict()}
    return python, work


def test_wheel_installs_extension_and_stubs(tmp_path):
    """Builds the source distribution and, from it, the wheel (as pip does
    for `pip install` of the sdist), installs the wheel into a fresh
    environment and uses it from outside the checkout."""
    env = build_env()
    dist = tmp_path / "dist"
    run([sys.executable, "-m", "build", "--no-isolation", "--outdir", dist, ROOT], env=env)
    (sdist,) = dist.glob("talvora-*.tar.gz")
    with tarfile.open(sdist) as archive:
        sources = {name.split("/", 1)[1] for name in archive.getnames() if "/" in name}
    assert {"python/talvora_tools/__init__.py", "src/tools/binding/module.cpp", "CMakeLists.txt"} <= sources
    (wheel,) = dist.glob("talvora-*.whl")
    with zipfile.ZipFile(wheel) as archive:
        names = set(archive.namelist())
    assert STUB_FILES | TOOLS_FILES <= names
    native = next(pathlib.Path(talvora_tools.__file__).parent.glob("_native*.so")).name
    assert {name for name in names if name.endswith(".so")} == {
        pathlib.Path(talvora.__file__).name, f"talvora_tools/{native}"}

    python, work = install_into_fresh_venv(tmp_path, wheel, env)
    assert_snippet_checked(*check_snippet(python, work, env))


def test_pip_installs_from_the_source_tree(tmp_path):
    """`pip install .` into a fresh environment, with the root's build tools."""
    install_into_fresh_venv(tmp_path, ROOT, build_env())
