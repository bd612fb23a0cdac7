"""Scans release every reference they take, on success and error paths
(python3.14-dbg's total reference count)."""

import io
import os

import numpy as np
import pytest

import talvora_tools
from support import DEBUG_INTERPRETER, Index
from talvora_tools import _native
from test_tools_refleaks import assert_no_leak, attempt, paths  # noqa: F401 (a fixture)

pytestmark = pytest.mark.skipif(not DEBUG_INTERPRETER, reason="needs python3.14-dbg")


def fed_scanner():
    scanner = _native._Scanner(64, 8)
    scanner.feed(b"x" * 100)
    scanner.feed(memoryview(b"y" * 50))
    scanner.finish()
    scanner.take()
    # Called directly: a bound method of a nanobind object taken into a
    # variable counts one reference more in the debug interpreter's total,
    # though nothing is kept (memory stays flat over millions of calls).
    try:
        scanner.feed(b"z")
    except ValueError:
        pass
    return scanner.position, scanner.needed_end, scanner.done


HELD = talvora_tools.scan(os.urandom(5000), 256, 64)
PATHS = {
    "bytes": attempt(talvora_tools.scan, b"hello world" * 10, 8, 3),
    "long sliding": attempt(talvora_tools.scan, bytes(20_000), 4096, 16),
    "str": attempt(talvora_tools.scan, "héllo" * 20, 16),
    "strided": attempt(talvora_tools.scan, np.arange(3000, dtype=np.uint8)[::3], 100),
    "sequence": attempt(talvora_tools.scan, [1, Index(2), True] * 10, 4),
    "item out of range": attempt(talvora_tools.scan, [1, 256], 4),
    "wide items": attempt(talvora_tools.scan, np.zeros(3, np.uint16), 4),
    "wrong type": attempt(talvora_tools.scan, None, 4),
    "bad window": attempt(talvora_tools.scan, b"abc", 0),
    "edges and regions": lambda: (HELD.edges(), HELD.regions(0.5, min_length=10), HELD == HELD,
                                  repr(HELD)),
    "bad thresholds": attempt(HELD.edges, 0.5, 0.9),
    "scanner": fed_scanner,
    "file object": attempt(talvora_tools.scan_file, io.BytesIO(b"abc" * 100), 16),
}


FILE_PATHS = {
    "file": lambda p: attempt(talvora_tools.scan_file, p["small"], 512, 100, offset=3),
    "missing file": lambda p: attempt(talvora_tools.scan_file, p["missing"], 16),
    "directory": lambda p: attempt(talvora_tools.scan_file, p["directory"], 16),
}


@pytest.mark.parametrize("name", [*PATHS, *FILE_PATHS])
def test_no_reference_leaks(paths, name):
    assert_no_leak(PATHS[name] if name in PATHS else FILE_PATHS[name](paths))
