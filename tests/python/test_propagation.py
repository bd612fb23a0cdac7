"""Exceptions that are not Exceptions (KeyboardInterrupt, SystemExit, ...) and
MemoryError reach the caller unchanged from every step of a conversion; the
others keep their place in the composed TypeError."""

import signal

import pytest

from support import MEASURES, SHANNON, ItemsOnly, composed_message, not_str


class Escape(BaseException):
    """A user's own BaseException."""


PROPAGATED = [KeyboardInterrupt, SystemExit, GeneratorExit, Escape, MemoryError,
              type("LowMemory", (MemoryError,), {})]


def sized(length):
    class Sized(ItemsOnly):
        def __len__(self):
            return length()

    return Sized(b"abc")


def raised_from(step, error):
    """An input whose conversion raises `error` at `step`."""
    def throw(*args):
        raise error

    if step == "__len__":
        return sized(throw)
    if step == "__iter__":
        return type("Iterates", (ItemsOnly,), {"__iter__": throw})(b"abc")
    if step == "__getitem__":
        return type("Items", (), {"__getitem__": throw})()
    if step == "__next__":
        return type("Nexts", (ItemsOnly,), {"__iter__": lambda self: self, "__next__": throw})(b"")
    if step == "list item __index__":
        return [1, 2, type("Index", (), {"__index__": throw})()]
    if step == "tuple item __index__":
        return (1, type("Index", (), {"__index__": throw})())
    if step == "iterated item __index__":
        return ItemsOnly([1, type("Index", (), {"__index__": throw})()])
    raise AssertionError(step)


STEPS = ["__len__", "__iter__", "__getitem__", "__next__", "list item __index__",
         "tuple item __index__", "iterated item __index__"]


@pytest.mark.parametrize("step", STEPS)
@pytest.mark.parametrize("kind", PROPAGATED, ids=lambda k: k.__name__)
def test_propagates_unchanged_from_every_step(kind, step):
    error = kind("from " + step)
    for measure in MEASURES.values():
        with pytest.raises(BaseException) as caught:
            measure(raised_from(step, error))
        assert caught.value is error
        assert caught.value.__cause__ is None and not hasattr(error, "__notes__")


@pytest.mark.parametrize("step", ["__iter__", "__getitem__", "list item __index__"])
def test_other_exceptions_keep_their_place_in_the_type_error(step):
    data = raised_from(step, LookupError("kept"))
    with pytest.raises(TypeError) as caught:
        SHANNON.measure_entropy(data)
    assert str(caught.value) == composed_message(
        not_str(type(data).__qualname__), "LookupError: kept")


def test_ctrl_c_while_a_sequence_is_read_is_a_keyboard_interrupt():
    class Interrupted(ItemsOnly):
        def __getitem__(self, i):
            if i == 2:
                signal.raise_signal(signal.SIGINT)
            return super().__getitem__(i)

    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    try:
        with pytest.raises(KeyboardInterrupt):
            SHANNON.measure_entropy(Interrupted(b"abcdef"))
    finally:
        signal.signal(signal.SIGINT, previous)


def test_an_error_raised_while_describing_the_failure_propagates():
    class Unprintable(Exception):
        def __str__(self):
            raise KeyboardInterrupt("while describing")

    with pytest.raises(KeyboardInterrupt, match="while describing"):
        SHANNON.measure_entropy(raised_from("__getitem__", Unprintable()))


def test_a_length_that_raises_an_ordinary_error_is_still_only_a_hint():
    def fails():
        raise ValueError("no length")

    assert SHANNON.measure_entropy(sized(fails)) == SHANNON.measure_entropy(b"abc")
