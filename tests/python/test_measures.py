"""The four measures through the Python API: worked results, bit for bit and
with the sign of zero, for every kind of `data` the module accepts."""

import pytest

from support import MEASURES, reference_min, reference_shannon, representations

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


@pytest.mark.parametrize(
    "data, expected",
    [
        pytest.param(data, expected, id=f"{content[:12]!r}-{form}")
        for content, expected in WORKED.items()
        for form, data in representations(content).items()
    ]
    + [
        pytest.param(range(97, 100), WORKED[b"abc"], id="range"),
        pytest.param([True, False], WORKED[b"ab"], id="bools"),
    ],
)
def test_worked_results(data, expected):
    results = [measure(data) for measure in MEASURES.values()]
    assert all(type(result) is float for result in results)
    assert [r.hex() for r in results] == [e.hex() for e in expected]


# content: (shannon, normalized); around the seam between the stored table
# (below 1000 bytes) and the fitted curve, and on the parallel path.
LONG = {
    "1000 x 0..199": (bytes(range(200)) * 5, 7.643856189774741, 0.9792247600200558),
    "999 x 0..110": (bytes(range(111)) * 9, 6.794415866350121, 0.8706756524176352),
    "1000 x 0..99": (bytes(range(100)) * 10, 6.6438561897747395, 0.8511186397963425),
    "1000 zeros": (bytes(1000), -0.0, -0.0),
    "262144 x 0..255": (bytes(range(256)) * 1024, 8.0, 1.0),
    "262144 x one value": (b"x" * 262_144, -0.0, -0.0),
}


@pytest.mark.parametrize("content, shannon, normalized", LONG.values(), ids=LONG.keys())
def test_long_inputs(content, shannon, normalized):
    expected = [shannon, shannon * 0.125, normalized, reference_min(content)]
    assert [m(content).hex() for m in MEASURES.values()] == [e.hex() for e in expected]


@pytest.mark.parametrize("length", [262_143, 262_144, 262_145, 1 << 20])
def test_both_counting_paths_match_the_reference(length):
    content = (bytes(range(256)) * (length // 256 + 1))[: length - 7] + bytes(7)
    assert MEASURES["shannon"](content).hex() == reference_shannon(content).hex()
    assert MEASURES["min"](content).hex() == reference_min(content).hex()
