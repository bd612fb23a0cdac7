"""A PanicException fetched back from Python aborts the process with its
report; a subclass of it is an ordinary error."""

import signal
import subprocess
import sys
import textwrap

import pytest

PANIC = """
import talvora
try:
    talvora.ping("x")  # the first fetched error creates the type
except TypeError:
    pass
(PanicException,) = [c for c in BaseException.__subclasses__() if c.__name__ == "PanicException"]
class Raises:
    def __getitem__(self, i):
        raise ERROR("boom")
    def __index__(self):
        raise ERROR("boom")
"""


def run(error, call):
    code = textwrap.dedent(PANIC).replace("ERROR", error) + f"{call}\nprint('survived')"
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)


@pytest.mark.parametrize(
    "call", ["talvora.shannon_entropy_algo.measure_entropy(Raises())", "talvora.ping(Raises())"]
)
def test_panic_exception_from_python_aborts_with_its_report(call):
    result = run("PanicException", call)
    assert result.returncode == -signal.SIGABRT and "survived" not in result.stdout
    assert (
        "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
        "Python stack trace below:\nTraceback (most recent call last):\n"
    ) in result.stderr
    assert "pyo3_runtime.PanicException: boom" in result.stderr


def test_subclass_of_panic_exception_is_an_ordinary_error():
    catch = (
        "try:\n    talvora.ping(Raises())\n"
        "except BaseException as e:\n    print(type(e).__name__, e.__notes__)"
    )
    result = run("type('Milder', (PanicException,), {})", catch)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "Milder [\"while processing 'x'\"]\nsurvived\n"
