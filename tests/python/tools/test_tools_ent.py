"""Agreement with the classic `ent` program, run as a black-box oracle on
files the tests write: every figure it prints, to the digits it prints."""

import math
import shutil
import subprocess

import pytest

import talvora_tools
from tools_support import MIB, sample

pytestmark = pytest.mark.skipif(shutil.which("ent") is None, reason="needs ent")

FILES = [("random", 0), ("random", 1), ("random", 5), ("random", 6), ("random", 7),
         ("random", 1000), ("random", MIB), ("text", MIB), ("zeros", MIB), ("compressed", 300_000)]
# ent -t's columns after the file's length, and the Report field of each.
COLUMNS = {"Entropy": "shannon", "Chi-square": "chi_square", "Mean": "mean",
           "Monte-Carlo-Pi": "monte_carlo_pi", "Serial-Correlation": "serial_correlation"}
# What ent prints where a figure is undefined.
UNDEFINED = {"-nan", "nan", "-100000.000000"}


def ent_terse(path):
    out = subprocess.run(["ent", "-t", str(path)], capture_output=True, text=True, check=True).stdout
    header, values = (line.split(",") for line in out.splitlines()[:2])
    return dict(zip(header, values))


@pytest.mark.parametrize("kind,size", FILES, ids=[f"{k}-{s}" for k, s in FILES])
def test_report_file_prints_what_ent_prints(tmp_path, kind, size):
    path = tmp_path / "sample"
    path.write_bytes(sample(kind, size))
    ent = ent_terse(path)
    report = talvora_tools.report_file(path)
    assert int(ent["File-bytes"]) == report.n == size
    for column, field in COLUMNS.items():
        ours, printed = getattr(report, field), ent[column]
        if printed in UNDEFINED:
            assert math.isnan(ours), (field, ours, printed)
        else:
            # One unit of the last digit printed, or ent's own rounding
            # error in double arithmetic where the figure is large.
            assert abs(ours - float(printed)) <= max(1e-6, 1e-12 * abs(ours)), (field, ours, printed)
    assert report.mode is None if size == 0 else report.mode is not None


def test_the_undefined_cases_are_the_ones_ent_cannot_work_out(tmp_path):
    """ent's sentinel values and NaNs are where its figures are undefined."""
    path = tmp_path / "zeros"
    path.write_bytes(bytes(100))
    assert ent_terse(path)["Serial-Correlation"] in UNDEFINED
    assert math.isnan(talvora_tools.report_file(path).serial_correlation)


def test_monte_carlo_error_is_the_percentage_ent_prints(tmp_path):
    path = tmp_path / "random"
    path.write_bytes(sample("random", 600_000, seed=3))
    out = subprocess.run(["ent", str(path)], capture_output=True, text=True, check=True).stdout
    printed = float(out.split("(error ")[1].split(" percent")[0])
    report = talvora_tools.report_file(path)
    assert f"{report.monte_carlo_pi_error:.2f}" == f"{printed:.2f}"
    assert report.monte_carlo_pi_error == 100 * abs(report.monte_carlo_pi - math.pi) / math.pi
