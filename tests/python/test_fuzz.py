"""Arbitrary objects and nested containers thrown at all five functions: each
call returns the result a reference computes, or raises the documented error;
nothing else, and never a crash."""

import operator

from hypothesis import given, settings
from hypothesis import strategies as st

import talvora
from support import DEBUG_INTERPRETER, MEASURES, SANITIZED, Index, ItemsOnly, reference_min, reference_shannon

EXAMPLES = 60 if SANITIZED or DEBUG_INTERPRETER else 300

scalars = (
    st.none() | st.booleans() | st.integers() | st.floats() | st.text(st.characters(), max_size=20)
    | st.binary(max_size=40) | st.binary(max_size=40).map(bytearray)
    | st.integers(-2, 300).map(Index) | st.builds(range, st.integers(-3, 260), st.integers(-3, 260))
)
objects = st.recursive(
    scalars,
    lambda children: st.lists(children, max_size=6).flatmap(
        lambda items: st.sampled_from([items, tuple(items), ItemsOnly(items)])
    )
    | st.dictionaries(st.integers(0, 255), children, max_size=3)
    | st.frozensets(st.integers(0, 255), max_size=3),
    max_leaves=12,
)
# Mostly byte values, so that many conversions succeed.
byte_sequences = st.lists(st.integers(0, 255) | st.booleans() | st.integers(0, 255).map(Index), max_size=300)


def expected_bytes(data):
    """The bytes `data` converts to, or None when conversion must fail."""
    if isinstance(data, str):
        try:
            return data.encode()
        except UnicodeEncodeError:  # lone surrogates
            return None
    if isinstance(data, (bytes, bytearray)):
        return bytes(data)
    if isinstance(data, (list, tuple, range, ItemsOnly)):
        try:
            values = [operator.index(item) for item in (data.items if isinstance(data, ItemsOnly) else data)]
        except TypeError:
            return None
        return bytes(values) if all(0 <= v <= 255 for v in values) else None
    return None


def check_measures(data):
    content = expected_bytes(data)
    for name, measure in MEASURES.items():
        try:
            result = measure(data)
        except TypeError as error:
            assert content is None, (name, error)
            assert str(error).startswith("failed to extract enum BytesOrStr ('Str | Bytes')\n- variant Str")
            assert error.__notes__ == ["while processing 'data'"] and error.__cause__ is None
            continue
        assert content is not None and type(result) is float, name
        expected = {
            "shannon": reference_shannon(content) if content else 0.0,
            "metric": reference_shannon(content) * 0.125 if content else 0.0,
            "min": reference_min(content) if content else 0.0,
        }
        if name in expected:
            assert result.hex() == expected[name].hex(), name
        else:
            assert -0.0 <= result <= 1.0 and (result == 0.0) == (len(set(content)) <= 1)


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
    else:
        assert result == (2 * value) % 2**64


@settings(max_examples=EXAMPLES, deadline=None)
@given(objects)
def test_arbitrary_objects(data):
    check_measures(data)
    check_ping(data)


@settings(max_examples=EXAMPLES, deadline=None)
@given(byte_sequences)
def test_byte_sequences(data):
    check_measures(data)
