"""A Histogram fed the same bytes in any split (updates of any size, merges
of parts counted elsewhere, in any tree, on any thread, through pickles)
equals the one-shot histogram, and its report the one-shot report, bit for
bit."""

import concurrent.futures
import copy
import pickle
import random

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import talvora_tools
from talvora_tools import Histogram
from tools_support import MIB, sample

EXAMPLES = 150


def cut(data: bytes, cuts: list[int]) -> list[bytes]:
    points = sorted({0, len(data), *(c % (len(data) + 1) for c in cuts)})
    return [data[a:b] for a, b in zip(points, points[1:])] or [b""]


def merged_by_tree(parts: list[Histogram], choices: list[int]) -> Histogram:
    """Merges neighbours, in order, at the places the choices pick."""
    parts = list(parts)
    i = 0
    while len(parts) > 1:
        k = choices[i % len(choices)] % (len(parts) - 1) if choices else 0
        i += 1
        parts[k] = parts[k] + parts.pop(k + 1)
    return parts[0]


def assert_same(counted: Histogram, data: bytes):
    whole = talvora_tools.histogram(data)
    assert counted == whole
    assert counted.report() == whole.report()


data_strategy = st.one_of(st.binary(max_size=3000),
                          st.builds(lambda n, b: bytes([b]) * n, st.integers(0, 500), st.integers(0, 255)),
                          st.builds(lambda s: sample("text", 2000, s), st.integers(0, 100)))


@settings(max_examples=EXAMPLES, deadline=None)
@given(data_strategy, st.lists(st.integers(0, 1 << 16), max_size=40))
def test_updates_in_any_split(data, cuts):
    counted = Histogram()
    for piece in cut(data, cuts):
        counted.update(piece)
    assert_same(counted, data)


@settings(max_examples=EXAMPLES, deadline=None)
@given(data_strategy, st.lists(st.integers(0, 1 << 16), max_size=30),
       st.lists(st.integers(0, 1 << 16), max_size=30), st.booleans())
def test_merges_in_any_tree(data, cuts, choices, through_pickle):
    parts = [Histogram(piece) for piece in cut(data, cuts)]
    if through_pickle:  # as if counted on other machines
        parts = [pickle.loads(pickle.dumps(part)) for part in parts]
    assert_same(merged_by_tree(parts, choices), data)


def test_one_byte_updates_and_long_parallel_parts():
    data = sample("text", 3000) + sample("random", 3 * MIB + 5) + bytes(70_000)
    one_by_one = Histogram()
    for b in data[:3000]:
        one_by_one.update(bytes([b]))
    rng = random.Random(4)
    rest = cut(data[3000:], [rng.randrange(len(data)) for _ in range(12)])
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        parts = list(pool.map(Histogram, rest))  # counted on other threads, kept in order
    assert_same(merged_by_tree([one_by_one, *parts], [rng.randrange(99) for _ in range(20)]), data)


def test_merge_with_itself_counts_the_bytes_twice():
    h = talvora_tools.histogram(b"abcdefg")
    h.merge(h)
    assert_same(h, b"abcdefg" * 2)
    h += h
    assert_same(h, b"abcdefg" * 4)


def test_sum_copy_and_pickle_leave_the_originals_alone():
    a, b = talvora_tools.histogram(b"hello "), talvora_tools.histogram(b"world")
    total = a + b
    assert_same(total, b"hello world")
    assert_same(a, b"hello ")
    assert_same(b, b"world")
    for duplicate in (a.copy(), copy.copy(a), copy.deepcopy(a), pickle.loads(pickle.dumps(a))):
        assert type(duplicate) is Histogram and duplicate == a and duplicate is not a
        duplicate.update(b"!")
        assert duplicate != a
    assert a.__add__(b"x") is NotImplemented
    with pytest.raises(TypeError):
        a + b"x"


def test_equality_sees_everything_a_report_depends_on():
    # Same counts, different order: the serial pairs and the points differ.
    assert talvora_tools.histogram(b"aabb") != talvora_tools.histogram(b"abab")
    assert talvora_tools.histogram(b"abcdefgh") != talvora_tools.histogram(b"habcdefg")
    assert talvora_tools.histogram(b"xy") == talvora_tools.histogram([120, 121])
    assert (Histogram() == object()) is False and Histogram() != 0
    with pytest.raises(TypeError, match="unhashable"):
        hash(Histogram())


def test_pickles_are_compact_and_checked():
    big = talvora_tools.histogram(sample("random", 4 * MIB))
    state = pickle.dumps(big)
    assert len(state) < 1200 and pickle.loads(state) == big
    good = big._state()
    for broken in (b"", good[:-1], good + b"\0", b"\x02" + good[1:], good[:1] + b"\x04" + good[2:]):
        with pytest.raises(ValueError, match="not a histogram state"):
            Histogram()._set_state(broken)
    # A well-formed state of counts that cannot add up to its n.
    h = Histogram(b"a")
    state = bytearray(h._state())
    state[2] = 2  # n = 2, one count of 1
    with pytest.raises(ValueError):
        Histogram()._set_state(bytes(state))
