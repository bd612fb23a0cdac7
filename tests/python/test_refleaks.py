"""Every success and error path releases each reference it takes: repeated
calls leave the debug interpreter's total reference count where it was."""

import gc
import sys

import pytest

import talvora
from support import DEBUG_INTERPRETER, MEASURES, SHANNON, Index, ItemsOnly

pytestmark = pytest.mark.skipif(not DEBUG_INTERPRETER, reason="needs python3.14-dbg")

ROUNDS, CALLS = 4, 200


class IterRaises:
    def __getitem__(self, i):
        raise ValueError("boom")


def calls(function, *args, **kwargs):
    def call():
        try:
            function(*args, **kwargs)
        except (TypeError, OverflowError, ValueError):
            pass

    return call


measure = SHANNON.measure_normalized_metric_entropy
PATHS = {
    "bytes": calls(measure, b"hello world"),
    "empty bytes": calls(measure, b""),
    "bytearray": calls(measure, bytearray(b"hello")),
    "str": calls(measure, "héllo"),
    "list": calls(measure, [1, 2, 3]),
    "__index__ items": calls(measure, (Index(1), Index(2))),
    "items only": calls(measure, ItemsOnly(b"abc")),
    "long input": calls(measure, bytes(300_000)),
    "every measure": lambda: [m(b"ab") for m in MEASURES.values()],
    "by keyword": calls(measure, data=b"ab"),
    "not a sequence": calls(measure, 5),
    "None": calls(measure, None),
    "out of range item": calls(measure, [1, 256]),
    "float item": calls(measure, [1.5]),
    "raising iteration": calls(measure, IterRaises()),
    "lone surrogate": calls(measure, "\udc80"),
    "missing argument": calls(measure),
    "too many arguments": calls(measure, b"a", b"b"),
    "unexpected keyword": calls(measure, other=1),
    "surrogate keyword": calls(measure, **{"\udc80": 1}),
    "multiple values": calls(measure, b"a", data=b"b"),
    "ping": calls(talvora.ping, 2**64 - 1),
    "ping __index__": calls(talvora.ping, Index(3)),
    "ping overflow": calls(talvora.ping, -1),
    "ping not an int": calls(talvora.ping, 1.5),
}


def refcount_deltas(path):
    for _ in range(CALLS):  # fill caches and warm up
        path()
    deltas = []
    for _ in range(ROUNDS):
        gc.collect()
        before = sys.gettotalrefcount()
        for _ in range(CALLS):
            path()
        gc.collect()
        deltas.append(sys.gettotalrefcount() - before)
    return deltas


@pytest.mark.parametrize("path", PATHS.values(), ids=PATHS.keys())
def test_no_reference_leaks(path):
    deltas = refcount_deltas(path)
    print(f"refcount deltas over {ROUNDS} x {CALLS} calls: {deltas}")
    # A leak of one reference per call would add CALLS each round.
    assert sum(deltas) < CALLS // 4, deltas


def test_the_check_sees_a_leak_of_one_reference_per_call():
    import ctypes

    kept = object()
    leak = ctypes.pythonapi.Py_IncRef
    leak.argtypes = [ctypes.py_object]
    assert sum(refcount_deltas(lambda: leak(kept))) >= ROUNDS * CALLS
