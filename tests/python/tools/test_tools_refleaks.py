"""Every entry point of talvora_tools, on its success and error paths,
releases each reference it takes (python3.14-dbg's total reference count)."""

import io
import os
import pickle

import numpy as np
import pytest

import talvora_tools
from support import DEBUG_INTERPRETER, Index
from talvora_tools import Histogram
from test_refleaks import CALLS, refcount_deltas

pytestmark = pytest.mark.skipif(not DEBUG_INTERPRETER, reason="needs python3.14-dbg")


def attempt(function, *args, **kwargs):
    def call():
        try:
            function(*args, **kwargs)
        except (TypeError, ValueError, OSError, OverflowError):
            pass
    return call


@pytest.fixture(scope="module")
def paths(tmp_path_factory):
    directory = tmp_path_factory.mktemp("refleaks")
    small = directory / "small"
    small.write_bytes(os.urandom(5000))
    return {"small": small, "missing": directory / "missing", "directory": directory}


STRIDED = np.arange(3000, dtype=np.uint8)[::3]
HELD = Histogram(b"held bytes")
PATHS = {
    "bytes": attempt(talvora_tools.histogram, b"hello world"),
    "long bytes": attempt(talvora_tools.histogram, bytes(70_000)),
    "str": attempt(talvora_tools.report, "héllo"),
    "strided": attempt(talvora_tools.histogram, STRIDED),
    "sequence": attempt(talvora_tools.histogram, [1, Index(2), True]),
    "item out of range": attempt(talvora_tools.histogram, [1, 256]),
    "item of another type": attempt(talvora_tools.histogram, [1, 2.5]),
    "wide items": attempt(talvora_tools.histogram, np.zeros(3, np.uint16)),
    "wrong type": attempt(Histogram, None),
    "update and merge": lambda: (HELD.copy().update(b"x"), HELD.copy().merge(HELD)),
    "report and counts": lambda: (HELD.report(), HELD.counts, len(HELD), HELD.total, HELD == HELD),
    "pickle": lambda: pickle.loads(pickle.dumps(HELD)),
    "bad state": attempt(Histogram()._set_state, b"\x01"),
    "merge a non-histogram": attempt(HELD.merge, b"x"),
    "file object": attempt(talvora_tools.histogram_file, io.BytesIO(b"abc" * 100)),
}
FILE_PATHS = {
    "file": lambda p: attempt(talvora_tools.report_file, p["small"], offset=3, length=100),
    "missing file": lambda p: attempt(talvora_tools.report_file, p["missing"]),
    "directory": lambda p: attempt(talvora_tools.histogram_file, p["directory"]),
    "negative offset": lambda p: attempt(talvora_tools.histogram_file, p["small"], offset=-1),
}


def assert_no_leak(path):
    # A leak shows in every round (CALLS a round for one reference a call);
    # the interpreter's own caches around raised exceptions add a few
    # references to some rounds.
    deltas = refcount_deltas(path)
    assert min(deltas) < CALLS // 4, deltas


@pytest.mark.parametrize("path", PATHS.values(), ids=PATHS.keys())
def test_no_reference_leaks(path):
    assert_no_leak(path)


@pytest.mark.parametrize("make", FILE_PATHS.values(), ids=FILE_PATHS.keys())
def test_no_reference_leaks_reading_files(paths, make):
    assert_no_leak(make(paths))
