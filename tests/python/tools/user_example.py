"""User code that touches every public name of talvora_tools; mypy --strict
must accept it as it stands (the typing test also adds lines it must refuse)."""

import array
import io
import mmap
import pathlib
import pickle
from typing import assert_type

import numpy as np

import talvora_tools
from talvora_tools import Histogram, Report


def survey(path: pathlib.Path, blob: bytes, mapped: mmap.mmap) -> dict[str, int | float | bool | None]:
    h = Histogram()
    h.update(blob)
    h.update("text")
    h.update(bytearray(b"x"))
    h.update(memoryview(blob))
    h.update(mapped)
    h.update(array.array("B", [1, 2]))
    h.update(np.zeros(4, np.uint8))
    h.update([1, 2, 3])
    h.update(range(10))
    h.update_file(path, offset=10, length=100)
    h.update_file(str(path))
    h.update_file(bytes(path))
    with open(path, "rb") as f:
        h.update_file(f)
    h.update_file(io.BytesIO(blob))
    h.merge(Histogram(blob))
    total: Histogram = h + talvora_tools.histogram(blob)
    assert_type(total.copy(), Histogram)
    restored: Histogram = pickle.loads(pickle.dumps(total))
    assert_type(restored.total, int)
    assert_type(h == total, bool)
    assert_type(len(h), int)
    assert_type(h.total, int)
    assert_type(h.truncated, bool)
    assert_type(h.counts, memoryview)
    report: Report = h.report()
    assert_type(report.n, int)
    assert_type(report.mode, int | None)
    assert_type(report.p_value, float)
    assert_type(report.truncated, bool)
    assert_type(talvora_tools.report(blob), Report)
    assert_type(talvora_tools.histogram_file(path), Histogram)
    assert_type(talvora_tools.report_file(path, offset=0, length=None), Report)
    return report.as_dict()
