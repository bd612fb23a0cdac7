"""The four measures through the Python API: worked results, bit for bit and
with the sign of zero, for every kind of `data` the module accepts."""

import array
import math
import os

import pytest

from support import (
    MEASURES,
    ByteArraySub,
    BytesSub,
    Index,
    ItemsOnly,
    StrSub,
    assert_same_float,
    reference_min,
    reference_shannon,
)

# content: (shannon, metric, normalized, min)
WORKED = {
    b"": (0.0, 0.0, 0.0, 0.0),
    b"a": (-0.0, -0.0, 0.0, -0.0),
    b"aaaa": (-0.0, -0.0, -0.0, -0.0),
    b"ab": (1.0, 0.125, 1.0, 1.0),
    b"aab": (0.9182958340544896, 0.1147869792568112, 0.5823363165175288, 0.5849625007211563),
    b"abc": (1.584962500721156, 1.584962500721156 * 0.125, 1.0, 1.5849625007211563),
    b"cacbcbcab": (1.5304930567574826, 0.19131163209468532, 0.4876187769835759, 1.1699250014423124),
    b"hello world": (2.8453509366224368, 0.3556688670778046, 0.8317897326794229, 1.8744691179161412),
    "é".encode(): (1.0, 0.125, 1.0, 1.0),
    bytes(range(256)): (8.0, 1.0, 1.0, 8.0),
}


def representations(content: bytes):
    """Every way of passing `content` as `data`."""
    forms = {
        "bytes": content,
        "bytes subclass": BytesSub(content),
        "bytearray": bytearray(content),
        "bytearray subclass": ByteArraySub(content),
        "list": list(content),
        "tuple": tuple(content),
        "array('B')": array.array("B", content),
        "memoryview": memoryview(content),
        "__getitem__ only": ItemsOnly(content),
        "__index__ items": [Index(b) for b in content],
    }
    try:
        text = content.decode()
    except UnicodeDecodeError:
        pass
    else:
        forms["str"] = text
        forms["str subclass"] = StrSub(text)
    return forms


CASES = [
    pytest.param(data, expected, id=f"{content[:12]!r}-{form}")
    for content, expected in WORKED.items()
    for form, data in representations(content).items()
]


@pytest.mark.parametrize("data, expected", CASES)
def test_worked_results(data, expected):
    results = [measure(data) for measure in MEASURES.values()]
    assert all(type(result) is float for result in results)
    assert [r.hex() for r in results] == [e.hex() for e in expected]


@pytest.mark.parametrize(
    "data, content",
    [
        (range(97, 100), b"abc"),
        (range(256), bytes(range(256))),
        ([True, False], b"\x01\x00"),
        ([True, True, True], b"\x01\x01\x01"),
        ([0, 255], b"\x00\xff"),
        ("", b""),
        ([], b""),
    ],
)
def test_other_accepted_forms_measure_their_bytes(data, content):
    for measure in MEASURES.values():
        assert_same_float(measure(data), measure(content))


# Longer inputs: (content, shannon, normalized). Around the seam between
# the stored table (below 1000 bytes) and the fitted curve.
LONG = {
    "1000 x 0..199": (bytes(range(200)) * 5, 7.643856189774741, 0.9792247600200558),
    "999 x 0..110": (bytes(range(111)) * 9, 6.794415866350121, 0.8706756524176352),
    "1000 x 0..99": (bytes(range(100)) * 10, 6.6438561897747395, 0.8511186397963425),
    "1024 x 0..255": (bytes(range(256)) * 4, 8.0, 1.0),
    "1000 zeros": (bytes(1000), -0.0, -0.0),
}


@pytest.mark.parametrize("content, shannon, normalized", LONG.values(), ids=LONG.keys())
def test_long_inputs(content, shannon, normalized):
    assert_same_float(MEASURES["shannon"](content), shannon)
    assert_same_float(MEASURES["metric"](content), shannon * 0.125)
    assert_same_float(MEASURES["normalized"](content), normalized)
    assert_same_float(MEASURES["min"](content), reference_min(content))


@pytest.mark.parametrize("length", [262_143, 262_144, 262_145, 1 << 20])
def test_both_counting_paths_agree_with_the_reference(length):
    # From 262,144 bytes on the histogram is counted in parallel.
    content = (bytes(range(256)) * (length // 256 + 1))[:length]
    content = content[:-7] + b"\x00" * 7  # not quite uniform
    shannon = reference_shannon(content)
    assert_same_float(MEASURES["shannon"](content), shannon)
    assert_same_float(MEASURES["metric"](content), shannon * 0.125)
    assert_same_float(MEASURES["min"](content), reference_min(content))
    assert 0.0 < MEASURES["normalized"](content) <= 1.0


def test_uniform_long_input_is_exactly_eight_bits():
    content = bytes(range(256)) * 1024
    assert [m(content) for m in MEASURES.values()] == [8.0, 1.0, 1.0, 8.0]


def test_random_data_scores_near_one_normalized():
    for n in (1000, 5000, 300_000):
        assert math.isclose(MEASURES["normalized"](os.urandom(n)), 1.0, abs_tol=5e-3), n
