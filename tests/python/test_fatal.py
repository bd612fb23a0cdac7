"""A PanicException fetched back from Python aborts the process with its
report; a subclass of it is an ordinary error."""

import signal
import subprocess
import sys
import textwrap

import pytest

from support import SHANNON, composed_message

FIND_PANIC = """
import talvora
try:
    talvora.ping("not a number")  # the first fetched error creates the type
except TypeError:
    pass
(PanicException,) = [c for c in BaseException.__subclasses__() if c.__name__ == "PanicException"]
"""


def run(code):
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(FIND_PANIC) + textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=60,
    )


@pytest.mark.parametrize(
    "code",
    [
        """
        class Evil:
            def __getitem__(self, i):
                raise PanicException("boom from __getitem__")
        talvora.shannon_entropy_algo.measure_entropy(Evil())
        """,
        """
        class Evil:
            def __index__(self):
                raise PanicException("boom from __index__")
        talvora.ping(Evil())
        """,
    ],
    ids=["conversion", "ping"],
)
def test_panic_exception_from_python_aborts_with_its_report(code):
    result = run(textwrap.dedent(code) + "\nprint('not reached')")
    assert result.returncode == -signal.SIGABRT
    assert "not reached" not in result.stdout
    assert (
        "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
        "Python stack trace below:\n"
    ) in result.stderr
    assert "Traceback (most recent call last):" in result.stderr
    assert "pyo3_runtime.PanicException: boom from" in result.stderr


def test_subclass_of_panic_exception_is_an_ordinary_error():
    result = run(
        """
        class Milder(PanicException):
            pass
        class Raises:
            def __getitem__(self, i):
                raise Milder("only a subclass")
        try:
            talvora.min_entropy_algo.measure_entropy(Raises())
        except TypeError as error:
            print(str(error).splitlines()[-1])
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.endswith("caused by Milder: only a subclass\n")


def test_ordinary_errors_never_reach_the_abort_path():
    with pytest.raises(TypeError) as caught:
        SHANNON.measure_entropy(object())
    assert str(caught.value) == composed_message(
        "TypeError: 'object' object is not an instance of 'str'",
        "TypeError: 'object' object is not an instance of 'Sequence'",
    )
