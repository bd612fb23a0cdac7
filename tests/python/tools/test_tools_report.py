"""The Report: its figures against talvora's measures (bit for bit), scipy's
chi-square tail, exact rational values, and the object itself."""

import dataclasses
import math
import pickle
import random
import struct
from fractions import Fraction

import numpy as np
import pytest

import talvora
import talvora_tools
from support import MEASURES
from tools_support import sample

FIELDS = ["n", "distinct", "mode", "shannon", "metric", "normalized", "min_entropy",
          "mcv_p_upper", "mcv_min_entropy", "chi_square", "p_value", "mean", "monte_carlo_pi",
          "monte_carlo_pi_error", "serial_correlation", "truncated"]
ENTROPY_FIELDS = {"shannon": "shannon", "metric": "metric", "normalized": "normalized",
                  "min_entropy": "min"}


def bits(x: float) -> bytes:
    return struct.pack("<d", x)


def skewed(rng: random.Random, n: int) -> bytes:
    """Bytes from a random distribution over a random number of values."""
    values = rng.sample(range(256), rng.randint(1, 256))
    weights = [rng.random() ** rng.choice([1, 4, 16]) for _ in values]
    return bytes(rng.choices(values, weights, k=n))


def inputs(count: int, seed: int):
    rng = random.Random(seed)
    yield b""
    for _ in range(count):
        n = rng.choice([1, 2, 3, 5, 6, 7, 255, 256, 1000, 4096, 70_000, 300_000])
        yield skewed(rng, n) if rng.random() < 0.7 else rng.randbytes(n)


def test_the_four_entropies_are_talvoras_bit_for_bit():
    for data in inputs(150, seed=11):
        report = talvora_tools.report(data)
        for field, measure in ENTROPY_FIELDS.items():
            assert bits(getattr(report, field)) == bits(MEASURES[measure](data)), (field, len(data))


def test_p_value_agrees_with_scipy():
    scipy_stats = pytest.importorskip("scipy.stats", reason="scipy is not built for this interpreter",
                                      exc_type=ImportError)
    rng = random.Random(5)
    checked = 0
    for data in [bytes(range(256)) * 40, *inputs(120, seed=5),
                 *(rng.randbytes(256) + bytes(k) for k in range(0, 400, 7))]:
        if not data:
            continue
        report = talvora_tools.report(data)
        expected = scipy_stats.chi2.sf(report.chi_square, 255)
        if expected > 1e-300:
            assert report.p_value == pytest.approx(expected, rel=1e-10, abs=0), report.chi_square
            checked += 1
        else:
            assert report.p_value < 1e-290
    assert checked > 60


def exact_figures(data: bytes):
    """chi-square, mean and serial correlation as fractions, from Python ints."""
    x = np.frombuffer(data, np.uint8).astype(np.int64)
    n = len(data)
    counts = np.bincount(x, minlength=256)
    sum_x, sum_xx = int(x.sum()), int((x * x).sum())
    sum_xy = int((x * np.roll(x, -1)).sum())
    chi = Fraction(256 * sum(int(c) ** 2 for c in counts) - n * n, n)
    denominator = n * sum_xx - sum_x**2
    serial = Fraction(n * sum_xy - sum_x**2, denominator) if denominator else math.nan
    return chi, Fraction(sum_x, n), serial


def test_chi_square_mean_and_serial_correlation_are_within_1e12_of_exact():
    rng = random.Random(9)
    for data in [*inputs(40, seed=9), bytes([0, 255]) * 150_000, rng.randbytes(1 << 20)]:
        if not data:
            continue
        report = talvora_tools.report(data)
        for field, exact in zip(["chi_square", "mean", "serial_correlation"], exact_figures(data)):
            ours = getattr(report, field)
            if isinstance(exact, float):
                assert math.isnan(ours)
            else:
                assert ours == pytest.approx(float(exact), rel=1e-12, abs=1e-300), field


def test_mcv_bound_and_mode():
    rng = random.Random(2)
    z = 2.5758293035489008
    for data in [b"\x07", b"ab", b"aab", bytes(50), *(skewed(rng, rng.randint(2, 5000)) for _ in range(50))]:
        report = talvora_tools.report(data)
        counts = [data.count(v) for v in range(256)]
        assert report.mode == counts.index(max(counts))
        assert report.distinct == sum(c > 0 for c in counts)
        n = len(data)
        if n < 2:
            assert math.isnan(report.mcv_p_upper) and math.isnan(report.mcv_min_entropy)
            continue
        p = max(counts) / n
        p_u = min(1.0, p + z * math.sqrt(p * (1 - p) / (n - 1)))
        assert report.mcv_p_upper == pytest.approx(p_u, rel=1e-15)
        assert report.mcv_min_entropy == pytest.approx(-math.log2(p_u), rel=1e-14, abs=0)
    assert bits(talvora_tools.report(bytes(10)).mcv_min_entropy) == bits(-0.0)


def test_the_empty_report():
    report = talvora_tools.report(b"")
    assert (report.n, report.distinct, report.mode, report.truncated) == (0, 0, None, False)
    for field in ENTROPY_FIELDS:
        assert bits(getattr(report, field)) == bits(MEASURES[ENTROPY_FIELDS[field]](b""))
    for field in FIELDS[7:15]:
        assert math.isnan(getattr(report, field)), field


def test_undefined_figures_are_nan_and_never_raise():
    one = talvora_tools.report(b"x")
    assert math.isnan(one.monte_carlo_pi) and math.isnan(one.serial_correlation)
    constant = talvora_tools.report(b"\x42" * 12)
    assert math.isnan(constant.serial_correlation)
    assert constant.monte_carlo_pi == 4.0 and constant.chi_square == 255 * 12
    assert math.isnan(talvora_tools.report(bytes(5)).monte_carlo_pi)


def test_report_is_an_immutable_record():
    report = talvora_tools.report(sample("text", 5000))
    assert [f.name for f in dataclasses.fields(report)] == FIELDS
    assert list(report.as_dict()) == FIELDS
    assert report.as_dict()["n"] == 5000
    with pytest.raises(dataclasses.FrozenInstanceError):
        report.n = 3
    text = repr(report)
    assert text.startswith("Report(n=5000, distinct=") and "serial_correlation=" in text
    assert pickle.loads(pickle.dumps(report)) == report
    assert type(report).__module__ == "talvora_tools"


def test_reports_compare_bit_for_bit():
    empty = talvora_tools.report(b"")
    assert empty == talvora_tools.report([]) and hash(empty) == hash(talvora_tools.report(""))
    assert talvora_tools.report(b"aab") != talvora_tools.report(b"abb")
    assert empty != dataclasses.replace(empty, shannon=-0.0)
    assert (empty == 5) is False
