"""Conversion of `data`: what is refused, the exact three-line TypeError that
explains both attempts, and inputs that lie or raise."""

import sys

import pytest

from support import DATA_NOTE, MEASURES, SHANNON, Index, ItemsOnly, composed_message

measure_entropy = SHANNON.measure_entropy


class Outer:
    class Inner:
        pass


def not_sequence(type_name):
    return f"TypeError: '{type_name}' object is not an instance of 'Sequence'"


def not_str(type_name):
    return f"TypeError: '{type_name}' object is not an instance of 'str'"


OUT_OF_RANGE = "OverflowError: out of range integral type conversion attempted"


def surrogate_error(text):
    try:
        text.encode()
    except UnicodeEncodeError as error:
        return f"UnicodeEncodeError: {error}"


REFUSED = {
    "int": (5, not_str("int"), not_sequence("int")),
    "float": (1.5, not_str("float"), not_sequence("float")),
    "None": (
        None,
        "TypeError: 'None' is not an instance of 'str'",
        "TypeError: 'None' is not an instance of 'Sequence'",
    ),
    "dict": ({0: 1}, not_str("dict"), not_sequence("dict")),
    "set": ({1, 2}, not_str("set"), not_sequence("set")),
    "generator": ((b for b in b"ab"), not_str("generator"), not_sequence("generator")),
    "nested class": (Outer.Inner(), not_str("Outer.Inner"), not_sequence("Outer.Inner")),
    "256": ([256], not_str("list"), OUT_OF_RANGE),
    "-1": ([1, -1], not_str("list"), OUT_OF_RANGE),
    "__index__ 300": ((Index(300),), not_str("tuple"), OUT_OF_RANGE),
    "beyond C long": ([2**70], not_str("list"), "OverflowError: Python int too large to convert to C long"),
    "float item": ([1.0], not_str("list"), "TypeError: 'float' object cannot be interpreted as an integer"),
    "str item": (["a"], not_str("list"), "TypeError: 'str' object cannot be interpreted as an integer"),
    "nested list": ([[1]], not_str("list"), "TypeError: 'list' object cannot be interpreted as an integer"),
    "lone surrogate": ("a\udc80", surrogate_error("a\udc80"), "TypeError: Can't extract `str` to `Vec`"),
}


@pytest.mark.parametrize("data, str_cause, bytes_cause", REFUSED.values(), ids=REFUSED.keys())
@pytest.mark.parametrize("measure", MEASURES.values(), ids=MEASURES.keys())
def test_refused_data(measure, data, str_cause, bytes_cause):
    with pytest.raises(TypeError) as caught:
        measure(data)
    error = caught.value
    assert type(error) is TypeError
    assert str(error) == composed_message(str_cause, bytes_cause)
    assert error.__notes__ == DATA_NOTE
    assert error.__cause__ is None
    assert not error.__suppress_context__


class IterRaises:
    def __getitem__(self, i):
        return 0

    def __iter__(self):
        raise ValueError("no iteration")


class ItemRaisesWithCause:
    def __getitem__(self, i):
        try:
            raise KeyError("inner")
        except KeyError as inner:
            raise ValueError("outer") from inner


def raising_item(error):
    class ItemRaises:
        def __getitem__(self, i):
            raise error

    return ItemRaises()


class BadStr(Exception):
    def __str__(self):
        raise RuntimeError("no str")


def looping_cause():
    error = ValueError("loop")
    error.__cause__ = error
    return error


def two_step_loop():
    first, second = ValueError("first"), ValueError("second")
    first.__cause__, second.__cause__ = second, first
    return first


RAISING = {
    "__iter__ raises": (IterRaises(), "ValueError: no iteration"),
    "__getitem__ raises": (raising_item(RuntimeError("boom")), "RuntimeError: boom"),
    "cause chain": (ItemRaisesWithCause(), "ValueError: outer, caused by KeyError: 'inner'"),
    "str() fails": (raising_item(BadStr()), "BadStr: <exception str() failed>"),
    "cause loops to itself": (raising_item(looping_cause()), "ValueError: loop"),
    "cause loops back": (
        raising_item(two_step_loop()),
        "ValueError: first, caused by ValueError: second",
    ),
    "__index__ raises": ([Index(1), Index("x")], "TypeError: __index__ returned non-int (type str)"),
}


@pytest.mark.parametrize("data, bytes_cause", RAISING.values(), ids=RAISING.keys())
def test_iteration_failures_are_described_with_their_causes(data, bytes_cause):
    with pytest.raises(TypeError) as caught:
        measure_entropy(data)
    assert str(caught.value) == composed_message(not_str(type(data).__qualname__), bytes_cause)
    assert caught.value.__notes__ == DATA_NOTE


class LyingLength:
    """A sequence whose __len__ disagrees with what iteration yields."""

    def __init__(self, length, items=b"abc"):
        self.length, self.items = length, items

    def __len__(self):
        if isinstance(self.length, Exception):
            raise self.length
        return self.length

    def __getitem__(self, i):
        return self.items[i]


@pytest.mark.parametrize(
    "length", [0, 1, 3, 1000, sys.maxsize, RuntimeError("no len")], ids=repr
)
def test_length_is_only_a_hint(length):
    assert measure_entropy(LyingLength(length)) == measure_entropy(b"abc")


def test_a_sequence_is_read_once_item_by_item():
    seen = []

    class Recording:
        def __getitem__(self, i):
            seen.append(i)
            return b"xyz"[i]

    assert measure_entropy(Recording()) == measure_entropy(b"xyz")
    assert seen == [0, 1, 2, 3]


def test_first_bad_item_ends_the_conversion():
    touched = []

    class Watched(Index):
        def __index__(self):
            touched.append(self.value)
            return self.value

    with pytest.raises(TypeError):
        measure_entropy([Watched(1), Watched(999), Watched(2)])
    assert touched == [1, 999]


def test_str_is_measured_as_utf8_and_bytes_of_a_str_subclass_too():
    class Shouting(str):
        def __str__(self):
            return "IGNORED"

    assert measure_entropy(Shouting("é")) == 1.0
    assert measure_entropy(ItemsOnly([0xC3, 0xA9])) == 1.0
