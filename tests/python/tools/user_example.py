"""User code that touches every public name of talvora_tools; mypy --strict
must accept it as it stands (the typing test also adds lines it must refuse)."""

import array
import io
import mmap
import pathlib
import pickle
from typing import Literal, assert_type

import distributed
from dask.array.core import Array
from dask.bag.core import Bag
import numpy as np

import talvora_tools
import talvora_tools.cli
import talvora_tools.dask
from talvora_tools import Edge, Histogram, Report, Scan


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


def scanning(path: pathlib.Path, blob: bytes) -> list[tuple[int, int]]:
    scanned: Scan = talvora_tools.scan(blob, 4096, 512)
    assert_type(talvora_tools.scan(memoryview(blob), 4096), Scan)
    assert_type(scanned.offsets, array.array[int])
    assert_type(scanned.lengths, array.array[int])
    assert_type(scanned.shannon, array.array[float])
    assert_type(scanned.min_entropy, array.array[float])
    assert_type(scanned.chi_square, array.array[float])
    assert_type((scanned.window, scanned.step, scanned.n, len(scanned)), tuple[int, int, int, int])
    values = np.asarray(scanned.shannon)
    assert values.dtype == np.float64
    edges: list[Edge] = scanned.edges(rising=0.9, falling=0.5)
    for edge in edges:
        assert_type(edge.offset, int)
        assert_type(edge.kind, Literal["rising", "falling"])
        assert_type(edge.value, float)
    assert_type(talvora_tools.scan_file(path, 4096, 64, offset=10, length=None), Scan)
    with open(path, "rb") as f:
        assert_type(talvora_tools.scan_file(f, 64), Scan)
    return scanned.regions(0.8, min_length=100)


def spread(paths: list[pathlib.Path], array: Array, bag: Bag, client: distributed.Client) -> Scan:
    counted: Histogram = talvora_tools.dask.histogram(array)
    assert_type(talvora_tools.dask.histogram(bag).report(), Report)
    for path, report in talvora_tools.dask.report_files(paths, client=client):
        assert_type(report.n, int)
    assert_type(talvora_tools.dask.report_files([str(p) for p in paths]), list[tuple[str, Report]])
    assert counted.total == 4096
    return talvora_tools.dask.scan_file(paths[0], 4096, 512, chunk_size=1 << 20, client=client)


def command_line(arguments: list[str]) -> int:
    return talvora_tools.cli.main(["report", "--json", *arguments])


def assess(samples: np.ndarray[tuple[int], np.dtype[np.uint8]], seen: list[int]) -> float:
    from talvora_tools.sp800_90b import Estimate, IidResult, NonIidResult, iid, non_iid, restart

    assessed: NonIidResult = non_iid(samples, 4, conditioned=False)
    for estimate in assessed.estimates:
        assert_type(estimate, Estimate)
        assert_type(estimate.min_entropy, float | None)
        assert_type(estimate.values["p_u"], int | float)
    tested: IidResult = iid(bytes(samples), bits=4, permutations=1000, seed=7,
                            progress=seen.append)
    if tested.tests is not None:
        assert_type(tested.tests.permutation.decided_without, tuple[str, ...])
        assert_type(tested.tests.independence.p_value, float)
    claimed = restart(samples, 4, iid=True, h_initial=None, seed=1)
    assert_type(claimed.assessed, float | None)
    assert_type(assessed.as_dict(), dict[str, talvora_tools.sp800_90b.Plain])
    return min(assessed.assessed, tested.assessed)
