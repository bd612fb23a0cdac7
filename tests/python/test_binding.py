"""Argument binding of the five functions, and ping end to end."""

import operator
import re

import pytest

import talvora
from support import MEASURES, SHANNON, Index

ping = talvora.ping


@pytest.mark.parametrize(
    "args, kwargs, expected",
    [
        ((0,), {}, 0),
        ((2**63 - 1,), {}, 2**64 - 2),
        ((2**63,), {}, 0),  # wraps modulo 2**64
        ((2**64 - 1,), {}, 2**64 - 2),  # all bits set is a value, not an error
        ((True,), {}, 2),
        ((Index(7),), {}, 14),
        ((), {"x": 21}, 42),
    ],
)
def test_ping(args, kwargs, expected):
    assert ping(*args, **kwargs) == expected


class IndexRaises:
    def __index__(self):
        raise ValueError("no index")


@pytest.mark.parametrize(
    "x, error",
    [(-1, OverflowError), (2**64, OverflowError), (Index(-3), OverflowError),
     (1.5, TypeError), ("3", TypeError), (IndexRaises(), ValueError)],
    ids=repr,
)
def test_ping_keeps_the_interpreters_exception_and_adds_a_note(x, error):
    with pytest.raises(error) as caught:
        ping(x)
    assert type(caught.value) is error
    assert caught.value.__notes__ == ["while processing 'x'"]
    if error is TypeError:
        with pytest.raises(TypeError, match=re.escape(str(caught.value))):
            operator.index(x)


REPLACED = "\ufffd" * 3  # a lone surrogate: one per byte of its surrogatepass encoding

BINDING_FAILURES = [
    (ping, (), {}, "ping() missing 1 required positional argument: 'x'"),
    (ping, (1, 2), {}, "ping() takes 1 positional arguments but 2 were given"),
    (ping, (1, 2), {"y": 3}, "ping() takes 1 positional arguments but 2 were given"),
    (ping, (1,), {"x": 2}, "ping() got multiple values for argument 'x'"),
    (ping, (), {"y": 1}, "ping() got an unexpected keyword argument 'y'"),
    (ping, (), {"x": 1, "X": 2}, "ping() got an unexpected keyword argument 'X'"),
    (ping, (), {"a\udc80": 1}, f"ping() got an unexpected keyword argument 'a{REPLACED}'"),
    (SHANNON.measure_entropy, (), {}, "measure_entropy() missing 1 required positional argument: 'data'"),
    (SHANNON.measure_entropy, (b"a",), {"data": b"c"}, "measure_entropy() got multiple values for argument 'data'"),
    (
        SHANNON.measure_metric_entropy, (), {"x": 1},
        "measure_metric_entropy() got an unexpected keyword argument 'x'",
    ),
    (
        SHANNON.measure_normalized_metric_entropy, (b"a", b"b"), {},
        "measure_normalized_metric_entropy() takes 1 positional arguments but 2 were given",
    ),
    # Binding is over before `data` is converted.
    (MEASURES["min"], (), {"data": 5, "e": 1}, "measure_entropy() got an unexpected keyword argument 'e'"),
]


@pytest.mark.parametrize(
    "function, args, kwargs, message", BINDING_FAILURES, ids=[failure[3] for failure in BINDING_FAILURES]
)
def test_binding_failures(function, args, kwargs, message):
    with pytest.raises(TypeError) as caught:
        function(*args, **kwargs)
    assert type(caught.value) is TypeError and str(caught.value) == message
    assert not hasattr(caught.value, "__notes__") and caught.value.__cause__ is None


@pytest.mark.parametrize("measure", MEASURES.values())
def test_data_binds_by_keyword_and_by_position_alike(measure):
    not_interned = "".join(["da", "ta"])
    assert measure(data=b"ab") == measure(b"ab") == measure(**{not_interned: b"ab"})
