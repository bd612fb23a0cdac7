"""Argument binding of the five functions, and ping end to end."""

import operator

import pytest

import talvora
from support import MEASURES, SHANNON, Index

ping = talvora.ping


class IntSub(int):
    pass


@pytest.mark.parametrize(
    "args, kwargs, expected",
    [
        ((0,), {}, 0),
        ((21,), {}, 42),
        ((2**63 - 1,), {}, 2**64 - 2),
        ((2**63,), {}, 0),  # wraps modulo 2**64
        ((2**64 - 1,), {}, 2**64 - 2),  # all bits set is a value, not an error
        ((True,), {}, 2),
        ((IntSub(5),), {}, 10),
        ((Index(7),), {}, 14),
        ((), {"x": 21}, 42),
    ],
)
def test_ping(args, kwargs, expected):
    assert ping(*args, **kwargs) == expected


class IndexRaises:
    def __index__(self):
        raise ValueError("no index")


class IndexReturnsFloat:
    def __index__(self):
        return 1.5


@pytest.mark.parametrize(
    "x, error",
    [
        (-1, OverflowError),
        (2**64, OverflowError),
        (Index(-3), OverflowError),
        (1.5, TypeError),
        ("3", TypeError),
        (None, TypeError),
        (IndexRaises(), ValueError),
        (IndexReturnsFloat(), TypeError),
    ],
)
def test_ping_conversion_failures_keep_the_interpreters_exception(x, error):
    with pytest.raises(error) as caught:
        ping(x)
    assert type(caught.value) is error
    assert caught.value.__notes__ == ["while processing 'x'"]
    if error is TypeError and not isinstance(x, IndexReturnsFloat):
        with pytest.raises(TypeError) as direct:
            operator.index(x)
        assert str(caught.value) == str(direct.value)


SURROGATE = "\udc80"
REPLACED = "\ufffd" * 3  # one per byte of the surrogatepass encoding

BINDING_FAILURES = [
    (ping, (), {}, "ping() missing 1 required positional argument: 'x'"),
    (ping, (1, 2), {}, "ping() takes 1 positional arguments but 2 were given"),
    (ping, (1, 2, 3), {}, "ping() takes 1 positional arguments but 3 were given"),
    (ping, (1, 2), {"y": 3}, "ping() takes 1 positional arguments but 2 were given"),
    (ping, (1,), {"x": 2}, "ping() got multiple values for argument 'x'"),
    (ping, (), {"y": 1}, "ping() got an unexpected keyword argument 'y'"),
    (ping, (), {"x": 1, "y": 2}, "ping() got an unexpected keyword argument 'y'"),
    (ping, (), {"X": 1}, "ping() got an unexpected keyword argument 'X'"),
    (ping, (), {SURROGATE: 1}, f"ping() got an unexpected keyword argument '{REPLACED}'"),
    (ping, (), {f"a{SURROGATE}b": 1}, f"ping() got an unexpected keyword argument 'a{REPLACED}b'"),
    (SHANNON.measure_entropy, (), {}, "measure_entropy() missing 1 required positional argument: 'data'"),
    (
        SHANNON.measure_entropy,
        (b"ab",),
        {"data": b"c"},
        "measure_entropy() got multiple values for argument 'data'",
    ),
    (
        SHANNON.measure_metric_entropy,
        (),
        {"x": 1},
        "measure_metric_entropy() got an unexpected keyword argument 'x'",
    ),
    (
        SHANNON.measure_normalized_metric_entropy,
        (b"a", b"b"),
        {},
        "measure_normalized_metric_entropy() takes 1 positional arguments but 2 were given",
    ),
    (
        talvora.min_entropy_algo.measure_entropy,
        (),
        {"data": 5, "extra": 1},  # the unknown keyword is reported before conversion
        "measure_entropy() got an unexpected keyword argument 'extra'",
    ),
]


@pytest.mark.parametrize(
    "function, args, kwargs, message",
    BINDING_FAILURES,
    ids=[message for *_, message in BINDING_FAILURES],
)
def test_binding_failures(function, args, kwargs, message):
    with pytest.raises(TypeError) as caught:
        function(*args, **kwargs)
    assert type(caught.value) is TypeError
    assert str(caught.value) == message
    assert not hasattr(caught.value, "__notes__")
    assert caught.value.__cause__ is None


@pytest.mark.parametrize("measure", MEASURES.values())
def test_data_binds_by_keyword_and_by_position_alike(measure):
    assert measure(data=b"ab") == measure(b"ab") == measure(*[b"ab"]) == measure(**{"data": b"ab"})


def test_keyword_names_that_are_not_interned_still_bind():
    name = "".join(["da", "ta"])
    assert SHANNON.measure_entropy(**{name: b"ab"}) == 1.0
