"""The fast roads of conversion (bytes and str read in place, exact lists and
tuples read directly, large copies in their own mappings) give what the slow
roads give: the same results, the same errors, the same references."""

import array
import math
import random
import sys

import pytest

from support import (
    MEASURES,
    OUT_OF_RANGE,
    SHANNON,
    Index,
    ListSubclass,
    LyingLength,
    Small,
    composed_message,
    not_str,
    representations,
)


def same_float(a, b):
    return a == b and math.copysign(1, a) == math.copysign(1, b)


def sample(length, seed):
    rng = random.Random(seed)
    skew = rng.choice([1, 4, 256])
    return bytes(rng.randrange(skew) * (256 // skew) for _ in range(length))


@pytest.mark.parametrize("length", [0, 1, 31, 4095, 4096, 4097, 262_145])
@pytest.mark.parametrize("measure", MEASURES.values(), ids=MEASURES.keys())
def test_every_road_gives_the_same_result(measure, length):
    data = sample(length, length)
    expected = measure(bytes(data))
    for name, form in representations(data).items():
        assert same_float(measure(form), expected), name


@pytest.mark.parametrize("text", ["", "abc", "é" * 1000, "日本語テキスト" * 50_000])
def test_a_str_is_measured_as_its_utf8_bytes(text):
    for measure in MEASURES.values():
        assert same_float(measure(text), measure(text.encode()))


def test_large_copies_give_the_same_result():
    # A sequence that grows its copy far beyond its size hint, and a
    # bytearray large enough to be copied into a mapping of its own.
    data = sample(3 << 20, 3)
    expected = SHANNON.measure_entropy(data)
    assert same_float(SHANNON.measure_entropy(LyingLength(data)), expected)
    large = random.Random(5).randbytes((32 << 20) + 1)
    assert same_float(SHANNON.measure_entropy(bytearray(large)), SHANNON.measure_entropy(large))


class Tracked(bytes):
    freed = 0

    def __del__(self):
        Tracked.freed += 1


@pytest.mark.parametrize("data", [Tracked(b"abc"), "str" + "ing" * 3], ids=["bytes", "str"])
def test_a_borrowed_input_is_released(data):
    before = sys.getrefcount(data)
    for measure in MEASURES.values():
        measure(data)
    assert sys.getrefcount(data) == before


def test_a_borrowed_bytes_dies_with_its_last_reference():
    data = Tracked(b"abc")
    SHANNON.measure_entropy(data)
    freed = Tracked.freed
    del data
    assert Tracked.freed == freed + 1


class Mutator:
    """An item whose __index__ changes the list that holds it, once."""

    def __init__(self, change, value=7):
        self.change, self.value, self.done = change, value, False

    def __index__(self):
        if not self.done:
            self.done = True
            self.change()
        return self.value


def shrink(items):
    del items[-3:]


def grow(items):
    items.extend([1, 2, 3, 1000])


def clear(items):
    items.clear()


def poison_next(items):
    items[items.index(next(i for i in items if isinstance(i, Mutator))) + 1] = 256


def drop_self(items):
    # The list's own reference was the item's last but ours.
    items[:] = [9] * len(items)


def hostile(list_type, change):
    items = list_type([1, 2, 3, 4, 5, 6, 7, 8])
    items.insert(3, Mutator(lambda: change(items)))
    return items


def outcome(function, data):
    try:
        return function(data)
    except (TypeError, OverflowError) as error:
        return type(error), str(error).splitlines()[-1]


def bytes_of(data):
    """What the iterator protocol reads, as bytes()."""
    try:
        return bytes(iter(data))
    except ValueError:  # bytes() has its own message for 0..255
        raise OverflowError("out of range integral type conversion attempted") from None


@pytest.mark.parametrize("change", [shrink, grow, clear, poison_next, drop_self])
def test_an_exact_list_changed_by_index_reads_like_its_iterator(change):
    iterated = outcome(lambda d: SHANNON.measure_entropy(bytes_of(d)), hostile(list, change))
    if isinstance(iterated, tuple):
        iterated = (TypeError, "- variant Bytes (Bytes): TypeError: failed to extract field "
                    f"BytesOrStr::Bytes.0, caused by {OUT_OF_RANGE}")
    assert outcome(SHANNON.measure_entropy, hostile(list, change)) == iterated
    assert outcome(SHANNON.measure_entropy, hostile(ListSubclass, change)) == iterated


ITEMS = {
    "bools": ([True, False, True], b"\x01\x00\x01"),
    "int subclass": ([Small(5), 255, Small(0)], b"\x05\xff\x00"),
    "__index__": ([Index(9), 0], b"\x09\x00"),
    "bounds": ([0, 255], b"\x00\xff"),
}


@pytest.mark.parametrize("container", [list, tuple], ids=["list", "tuple"])
@pytest.mark.parametrize("items, expected", ITEMS.values(), ids=ITEMS.keys())
def test_items_of_every_kind(container, items, expected):
    for measure in MEASURES.values():
        assert same_float(measure(container(items)), measure(expected))


def renaming_class(hook):
    class Renamed:
        def rename(self):
            type(self).__qualname__ = "Changed"

        def __len__(self):
            if hook == "__len__":
                self.rename()
            return 1

        def __iter__(self):
            if hook == "__iter__":
                self.rename()
            return iter([Index(1000)] if hook != "__index__" else [RenamingItem(self)])

        def __getitem__(self, i):
            raise IndexError

    return Renamed()


class RenamingItem:
    def __init__(self, owner):
        self.owner = owner

    def __index__(self):
        self.owner.rename()
        return 1000


@pytest.mark.parametrize("hook", ["__len__", "__iter__", "__index__"])
def test_the_str_line_names_a_class_as_it_was_before_the_bytes_attempt(hook):
    data = renaming_class(hook)
    old = type(data).__qualname__
    with pytest.raises(TypeError) as caught:
        SHANNON.measure_entropy(data)
    assert type(data).__qualname__ == "Changed"
    assert str(caught.value) == composed_message(not_str(old), OUT_OF_RANGE)


def last_cause(data):
    """The measure of `data`, or its error's type and last cause."""
    result = outcome(SHANNON.measure_entropy, data)
    if isinstance(result, tuple):
        return result[0], "caused by " + result[1].split(", caused by ")[-1]
    return result


def through_iterator(data):
    """What reading `data` item by item gives, as last_cause says it."""
    try:
        items = list(iter(data))
    except Exception as error:  # the iterator's own error, as conversion reports it
        return TypeError, f"caused by {type(error).__qualname__}: {error}"
    return last_cause(items)


class OwnIterator(array.array):
    def __iter__(self):
        return iter([1, 2, 3])


def released():
    view = memoryview(b"abc")
    view.release()
    return view


# Byte buffers that do not hold plain bytes in one run: each is read item by
# item, as before.
NOT_PLAIN = {
    "strided view": lambda: memoryview(bytes(range(200)))[::3],
    "reversed view": lambda: memoryview(b"abcdef")[::-1],
    "signed view": lambda: memoryview(b"\x01\xff").cast("b"),
    "two-dimensional view": lambda: memoryview(bytes(6)).cast("B", (2, 3)),
    "zero-dimensional view": lambda: memoryview(b"a").cast("B", ()),
    "released view": released,
    "view of shorts": lambda: memoryview(array.array("H", [1, 2, 300])),
    "array of shorts": lambda: array.array("H", [1, 2, 3]),
    "signed array": lambda: array.array("b", [1, -2]),
    "array subclass": lambda: OwnIterator("B", b"xyz"),
}


@pytest.mark.parametrize("make", NOT_PLAIN.values(), ids=NOT_PLAIN.keys())
def test_byte_buffers_that_are_not_plain_bytes_read_as_their_iterator(make):
    assert last_cause(make()) == through_iterator(make())
