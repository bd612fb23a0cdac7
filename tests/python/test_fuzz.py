"""Arbitrary objects and nested containers thrown at all five functions: each
call returns a result that agrees with a reference, or raises the specified
error; nothing else, and never a crash."""

import math
import operator

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import talvora
from support import (
    DATA_NOTE,
    DEBUG_INTERPRETER,
    MEASURES,
    SANITIZED,
    Index,
    ItemsOnly,
    reference_min,
    reference_shannon,
)

EXAMPLES = 60 if SANITIZED or DEBUG_INTERPRETER else 300

scalars = (
    st.none()
    | st.booleans()
    | st.integers()
    | st.integers(-2, 300).map(Index)
    | st.floats(allow_nan=False)
    | st.text(st.characters(), max_size=20)
    | st.binary(max_size=40)
    | st.binary(max_size=40).map(bytearray)
    | st.builds(range, st.integers(-3, 260), st.integers(-3, 260))
)
objects = st.recursive(
    scalars,
    lambda children: (
        st.lists(children, max_size=6)
        | st.lists(children, max_size=6).map(tuple)
        | st.lists(children, max_size=6).map(ItemsOnly)
        | st.dictionaries(st.integers(0, 255), children, max_size=3)
        | st.frozensets(st.integers(0, 255), max_size=3)
    ),
    max_leaves=12,
)
# Sequences of byte values mostly, so that many conversions succeed.
byte_items = st.integers(0, 255) | st.integers(0, 1).map(bool) | st.integers(0, 255).map(Index)
byte_sequences = st.lists(byte_items, max_size=300).flatmap(
    lambda items: st.sampled_from([items, tuple(items), ItemsOnly(items)])
)


def expected_bytes(data):
    """The bytes `data` converts to, or None when conversion must fail."""
    if isinstance(data, str):
        try:
            return data.encode()
        except UnicodeEncodeError:
            return None
    if isinstance(data, (bytes, bytearray)):
        return bytes(data)
    if isinstance(data, (list, tuple, range, ItemsOnly)):
        values = []
        for item in data.items if isinstance(data, ItemsOnly) else data:
            try:
                value = operator.index(item)
            except TypeError:
                return None
            if not 0 <= value <= 255:
                return None
            values.append(value)
        return bytes(values)
    return None


def check_measures(data):
    content = expected_bytes(data)
    for name, measure in MEASURES.items():
        try:
            result = measure(data)
        except TypeError as error:
            assert content is None, (name, error)
            assert str(error).startswith("failed to extract enum BytesOrStr ('Str | Bytes')\n")
            assert str(error).count("\n") == 2
            assert error.__notes__ == DATA_NOTE and error.__cause__ is None
            continue
        assert content is not None, name
        assert type(result) is float
        if not content:
            assert result.hex() == "0x0.0p+0"
        elif name == "shannon":
            assert result.hex() == reference_shannon(content).hex()
        elif name == "metric":
            assert result.hex() == (reference_shannon(content) * 0.125).hex()
        elif name == "min":
            assert result.hex() == reference_min(content).hex()
        else:
            assert -0.0 <= result <= 1.0
            assert (result == 0.0) == (len(set(content)) == 1)


def check_ping(x):
    try:
        value = operator.index(x)
    except TypeError:
        value = None
    try:
        result = talvora.ping(x)
    except (TypeError, OverflowError) as error:
        assert value is None or not 0 <= value < 2**64, error
        assert error.__notes__ == ["while processing 'x'"]
        return
    assert value is not None and 0 <= value < 2**64
    assert result == (2 * value) % 2**64


@settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(objects)
def test_arbitrary_objects(data):
    check_measures(data)
    check_ping(data)


@settings(max_examples=EXAMPLES, deadline=None)
@given(byte_sequences)
def test_byte_sequences(data):
    check_measures(data)


@settings(max_examples=EXAMPLES, deadline=None)
@given(st.binary(min_size=1, max_size=2000))
def test_normalized_keeps_its_cap_and_sign_rules(content):
    result = MEASURES["normalized"](content)
    assert result <= 1.0
    if len(content) == 1:
        assert math.copysign(1.0, result) == 1.0
