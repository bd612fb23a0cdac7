"""Conversion of `data`: what is refused, the exact three-line TypeError that
explains both attempts, and inputs that lie or raise."""

import subprocess
import sys

import pytest

from support import (
    MEASURES,
    OUT_OF_RANGE,
    SHANNON,
    Index,
    ItemsOnly,
    LyingLength,
    Small,
    composed_message,
    not_str,
)


class Outer:
    class Inner:
        pass


def not_sequence(name):
    return f"TypeError: '{name}' object is not an instance of 'Sequence'"


def surrogate_error(text):
    try:
        text.encode()
    except UnicodeEncodeError as error:
        return f"UnicodeEncodeError: {error}"


REFUSED = {
    "int": (5, not_str("int"), not_sequence("int")),
    "None": (
        None,
        "TypeError: 'None' is not an instance of 'str'",
        "TypeError: 'None' is not an instance of 'Sequence'",
    ),
    "dict": ({0: 1}, not_str("dict"), not_sequence("dict")),
    "set": ({1, 2}, not_str("set"), not_sequence("set")),
    "generator": ((b for b in b"ab"), not_str("generator"), not_sequence("generator")),
    "nested class": (Outer.Inner(), not_str("Outer.Inner"), not_sequence("Outer.Inner")),
    "lone surrogate": ("a\udc80", surrogate_error("a\udc80"), "TypeError: Can't extract `str` to `Vec`"),
}


def assert_refused(measure, data, str_cause, bytes_cause):
    with pytest.raises(TypeError) as caught:
        measure(data)
    error = caught.value
    assert type(error) is TypeError and str(error) == composed_message(str_cause, bytes_cause)
    assert error.__notes__ == ["while processing 'data'"]
    assert error.__cause__ is None and not error.__suppress_context__


@pytest.mark.parametrize("data, str_cause, bytes_cause", REFUSED.values(), ids=REFUSED.keys())
@pytest.mark.parametrize("measure", MEASURES.values(), ids=MEASURES.keys())
def test_refused_data(measure, data, str_cause, bytes_cause):
    assert_refused(measure, data, str_cause, bytes_cause)


C_LONG = "OverflowError: Python int too large to convert to C long"
NOT_AN_INTEGER = "TypeError: 'float' object cannot be interpreted as an integer"
# Items that are not ints 0..255, alone or after a good one; exact lists and
# tuples are each read by a road of their own.
REFUSED_ITEMS = {
    "256": ([256], OUT_OF_RANGE),
    "256 after a good item": ([1, 256], OUT_OF_RANGE),
    "-1": ([-1], OUT_OF_RANGE),
    "-1 after a good item": ([1, -1], OUT_OF_RANGE),
    "int subclass 300": ([Small(300)], OUT_OF_RANGE),
    "__index__ 300": ([Index(300)], OUT_OF_RANGE),
    "beyond C long": ([2**70], C_LONG),
    "below C long": ([5, -(2**64)], C_LONG),
    "int subclass beyond C long": ([Small(2**80)], C_LONG),
    "float": ([0.5], NOT_AN_INTEGER),
    "integral float": ([1.0], NOT_AN_INTEGER),
}


@pytest.mark.parametrize("container", [list, tuple], ids=["list", "tuple"])
@pytest.mark.parametrize("items, bytes_cause", REFUSED_ITEMS.values(), ids=REFUSED_ITEMS.keys())
@pytest.mark.parametrize("measure", MEASURES.values(), ids=MEASURES.keys())
def test_refused_items(measure, items, bytes_cause, container):
    assert_refused(measure, container(items), not_str(container.__name__), bytes_cause)


def raising(error):
    def __getitem__(self, i):
        raise error

    return type("Raises", (), {"__getitem__": __getitem__})()


def with_cause(error, cause):
    error.__cause__ = cause
    return error


class BadStr(Exception):
    def __str__(self):
        raise RuntimeError("no str")


first = ValueError("first")
loop_back = with_cause(first, ValueError("second"))
loop_back.__cause__.__cause__ = first

RAISING = {
    "__iter__ raises": (
        type("IterRaises", (ItemsOnly,), {"__iter__": lambda self: 1 / 0})([]),
        "ZeroDivisionError: division by zero",
    ),
    "__getitem__ raises": (raising(RuntimeError("boom")), "RuntimeError: boom"),
    "cause chain": (
        raising(with_cause(ValueError("outer"), KeyError("inner"))),
        "ValueError: outer, caused by KeyError: 'inner'",
    ),
    "str() fails": (raising(BadStr()), "BadStr: <exception str() failed>"),
    # A chain that loops ends at the first exception seen twice.
    "cause loops to itself": (raising(with_cause(e := ValueError("loop"), e)), "ValueError: loop"),
    "cause loops back": (raising(loop_back), "ValueError: first, caused by ValueError: second"),
    "__index__ raises": ([Index(1), Index("x")], "TypeError: __index__ returned non-int (type str)"),
}


@pytest.mark.parametrize("data, bytes_cause", RAISING.values(), ids=RAISING.keys())
def test_iteration_failures_are_described_with_their_causes(data, bytes_cause):
    with pytest.raises(TypeError) as caught:
        SHANNON.measure_entropy(data)
    assert str(caught.value) == composed_message(not_str(type(data).__qualname__), bytes_cause)


@pytest.mark.parametrize("length", [0, 1, 1000, sys.maxsize, RuntimeError("no len")], ids=repr)
def test_length_is_only_a_hint(length):
    assert SHANNON.measure_entropy(LyingLength(b"abc", length)) == SHANNON.measure_entropy(b"abc")


def test_the_first_bad_item_ends_the_conversion():
    touched = []

    class Watched(Index):
        def __index__(self):
            touched.append(self.value)
            return self.value

    with pytest.raises(TypeError):
        SHANNON.measure_entropy([Watched(1), Watched(999), Watched(2)])
    assert touched == [1, 999]


def test_a_measure_called_while_the_module_imports_its_sequence_type_does_not_hang():
    # The first sequence conversion imports collections.abc through
    # builtins.__import__, so user code can call a measure from inside it.
    code = """if True:
        import builtins, talvora
        measure = talvora.shannon_entropy_algo.measure_entropy
        def message(data):
            try:
                measure(data)
            except TypeError as error:
                return str(error)
        real_import, seen = builtins.__import__, []
        def hooked(name, *args, **kwargs):
            if name == "collections.abc" and not seen:
                seen.append(None)
                seen[0] = message(5)
            return real_import(name, *args, **kwargs)
        builtins.__import__ = hooked
        print(repr(message(5)), repr(seen[0]), measure(range(4)))
    """
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    expected = repr(composed_message(not_str("int"), not_sequence("int")))
    assert (out.returncode, out.stdout, out.stderr) == (0, f"{expected} {expected} 2.0\n", "")
