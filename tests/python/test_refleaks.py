"""Every success and error path releases each reference it takes: repeated
calls leave the debug interpreter's total reference count where it was."""

import array
import ctypes
import gc
import sys

import pytest

import talvora
from support import DEBUG_INTERPRETER, MEASURES, Index, ItemsOnly

pytestmark = pytest.mark.skipif(not DEBUG_INTERPRETER, reason="needs python3.14-dbg")
ROUNDS, CALLS = 4, 200


def _cleared_by_index():
    items = [1, 2, 3]
    items.insert(1, type("Clears", (), {"__index__": lambda self: items.clear() or 4})())
    return items


def calls(function, *args, **kwargs):
    def call():
        try:
            function(*args, **kwargs)
        except (TypeError, OverflowError, ValueError):
            pass

    return call


def interrupted(function, data):
    def call():
        try:
            function(data)
        except KeyboardInterrupt:
            pass

    return call


def _raises_interrupt(*args):
    raise KeyboardInterrupt


def _released_view():
    view = memoryview(b"abc")
    view.release()
    return view


measure = MEASURES["normalized"]
PATHS = {
    "bytes": calls(measure, b"hello world"),
    "str": calls(measure, "héllo"),
    "bytearray": calls(measure, bytearray(b"hello")),
    "__index__ items": calls(measure, (Index(1), Index(2))),
    "items only": calls(measure, ItemsOnly(b"abc")),
    "parallel path": calls(measure, bytes(300_000)),
    "every measure": lambda: [m(b"ab") for m in MEASURES.values()],
    "not a sequence": calls(measure, 5),
    "out of range item": calls(measure, [1, 256]),
    "raising iteration": calls(measure, type("Raises", (), {"__getitem__": lambda self, i: 1 / 0})()),
    "lone surrogate": calls(measure, "\udc80"),
    "missing argument": calls(measure),
    "surrogate keyword": calls(measure, **{"\udc80": 1}),
    "multiple values": calls(measure, b"a", data=b"b"),
    "bytes subclass": calls(measure, type("B", (bytes,), {})(b"abc")),
    "list of ints and __index__": calls(measure, [1, Index(2), True, 255]),
    "list cleared by __index__": lambda: measure(_cleared_by_index()),
    "tuple out of range": calls(measure, (1, 2, 300)),
    "memoryview": calls(measure, memoryview(b"hello")),
    "array": calls(measure, array.array("B", b"hello")),
    "strided memoryview": calls(measure, memoryview(b"hello")[::2]),
    "released memoryview": lambda: calls(measure, _released_view())(),
    "interrupted __len__": interrupted(measure, type("L", (ItemsOnly,), {"__len__": _raises_interrupt})(b"a")),
    "interrupted __index__": interrupted(measure, [1, type("I", (), {"__index__": _raises_interrupt})()]),
    "ping": calls(talvora.ping, Index(3)),
    "ping overflow": calls(talvora.ping, -1),
    "ping not an int": calls(talvora.ping, 1.5),
}


def refcount_deltas(path):
    for _ in range(CALLS):  # fill the caches first
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
    assert sum(deltas) < CALLS // 4, deltas  # one leak per call adds CALLS a round


def test_the_check_sees_a_leak_of_one_reference_per_call():
    leak, kept = ctypes.pythonapi.Py_IncRef, object()
    leak.argtypes = [ctypes.py_object]
    assert sum(refcount_deltas(lambda: leak(kept))) >= ROUNDS * CALLS
