"""talvora_tools.dask on a real distributed.LocalCluster (two worker
processes): histograms of arrays of any shape and chunking and of bags,
reports of files and scans split across workers, each equal bit for bit to
the one-shot result; chunks that cut 6-byte groups and windows; errors; and
the compact pickles that travel between the processes."""

import os
import pickle

import numpy as np
import pytest

import talvora_tools
from tools_support import run_python, sample

da = pytest.importorskip("dask.array")
db = pytest.importorskip("dask.bag")
distributed = pytest.importorskip("distributed")
from talvora_tools import dask as tdask  # noqa: E402  (after the skips)

pytestmark = pytest.mark.timeout(600)


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster:
        with distributed.Client(cluster) as connected:
            yield connected


def random_bytes(shape, seed):
    return np.random.default_rng(seed).integers(0, 256, shape, dtype=np.uint8)


@pytest.mark.parametrize("shape,chunks", [
    ((2_000,), 7),  # cuts 6-byte groups everywhere
    ((6 * 97 + 5,), (6 * 40 + 1, 6 * 40 - 1, 6 * 17 + 5)),
    ((37, 53), (5, 11)),  # blocks are not runs of the C order: rechunked
    ((9, 7, 11), (2, 3, 4)),
    ((1, 2000), (1, 13)),  # runs as they are
    ((400, 3), (7, 1)),
    ((50, 6, 4), (1, 2, 4)),
    ((), ()),
    ((0, 5), (1, 5)),
])
def test_an_array_of_any_shape_and_chunks_counts_as_its_c_order_bytes(client, shape, chunks):
    data = random_bytes(shape, seed=len(shape) + sum(shape))
    counted = tdask.histogram(da.from_array(data, chunks=chunks))
    assert counted == talvora_tools.histogram(data)
    assert counted.report() == talvora_tools.report(data)


def test_collections_held_by_the_workers(client):
    data = random_bytes((5000,), seed=6)
    held = da.from_array(data, chunks=777).persist()
    distributed.wait(held)
    assert tdask.histogram(held) == talvora_tools.histogram(data)
    items = [bytes(data[k:k + 100]) for k in range(0, 5000, 100)]
    assert tdask.histogram(db.from_sequence(items, npartitions=4).persist()) == talvora_tools.histogram(data)


def test_a_strided_source_and_signed_bytes(client):
    data = np.asfortranarray(random_bytes((60, 70), seed=3))[::2, 5:].view(np.int8)
    assert tdask.histogram(da.from_array(data, chunks=(7, 9))) == talvora_tools.histogram(data)


def test_rechunked_blocks_are_runs_however_large_the_rows(client, monkeypatch):
    monkeypatch.setattr(tdask, "BLOCK_BYTES", 30)  # rows wider than a block
    data = random_bytes((3, 4, 50), seed=4)
    assert tdask._run_chunks(data.shape) == (1, 1, 30)
    assert tdask._blocks_are_runs(da.from_array(data, chunks=(3, 4, 50)).rechunk((1, 1, 30)).chunks)
    assert not tdask._blocks_are_runs(((1, 2), (2, 2), (50,)))
    assert tdask.histogram(da.from_array(data, chunks=(2, 3, 7))) == talvora_tools.histogram(data)


def test_a_bag_counts_its_items_in_order(client):
    rng = np.random.default_rng(5)
    items = [rng.bytes(int(size)) for size in rng.integers(0, 40, 300)]
    items[10] = b""
    bag = db.from_sequence(items, npartitions=9)
    assert tdask.histogram(bag).report() == talvora_tools.report(b"".join(items))
    assert tdask.histogram(db.from_sequence([], npartitions=1)) == talvora_tools.Histogram()


def test_what_cannot_be_counted_is_refused():
    with pytest.raises(TypeError, match="1-byte items"):
        tdask.histogram(da.zeros(10, dtype=np.uint16))
    with pytest.raises(TypeError, match="'bytes'"):
        tdask.histogram(b"abc")


@pytest.fixture(scope="module")
def data_files(tmp_path_factory):
    folder = tmp_path_factory.mktemp("dask")
    paths = []
    for k, kind in enumerate(["random", "text", "zeros", "compressed", "random"]):
        path = folder / f"{k}-{kind}"
        path.write_bytes(sample(kind, 20_000 + 7 * k, seed=k))
        paths.append(path)
    (folder / "empty").write_bytes(b"")
    return [*paths, folder / "empty"]


def test_report_files_in_the_order_given(client, data_files):
    paths = [data_files[3], str(data_files[0]), data_files[5], data_files[3]]
    for given in (tdask.report_files(paths, client=client), tdask.report_files(paths)):
        assert [path for path, _ in given] == paths
        assert [report for _, report in given] == [talvora_tools.report_file(p) for p in paths]
    with pytest.raises(FileNotFoundError):
        tdask.report_files([data_files[0].parent / "missing"], client=client)


@pytest.mark.parametrize("window,step,chunk_size", [
    (300, 70, 1000),  # windows cut by the seams, every chunk a whole number of steps
    (100, 300, 999),  # steps longer than windows
    (64, 64, 4096),
    (5000, 1000, 6000),
    (4096, 16, 3000),  # sliding
    (30_000, 70, 10_000),  # windows longer than the file: one shorter window
    (250, None, 50),  # chunks shorter than a step
])
def test_a_scan_split_across_workers_is_the_scan(client, data_files, window, step, chunk_size):
    path = data_files[3]
    split = tdask.scan_file(path, window, step, chunk_size=chunk_size, client=client)
    assert split == talvora_tools.scan_file(path, window, step)


def test_scans_of_an_empty_file_and_with_the_default_client(client, data_files):
    assert tdask.scan_file(data_files[5], 10) == talvora_tools.scan_file(data_files[5], 10)
    assert tdask.scan_file(data_files[1], 777, 500, chunk_size=3000) == talvora_tools.scan_file(
        data_files[1], 777, 500)


def test_scan_errors(tmp_path, data_files):
    with pytest.raises(FileNotFoundError):
        tdask.scan_file(tmp_path / "missing", 10)
    with pytest.raises(IsADirectoryError):
        tdask.scan_file(tmp_path, 10)
    for window, step, chunk_size in [(0, None, 10), (10, 0, 10), (10, 5, 0)]:
        with pytest.raises(ValueError, match="positive"):
            tdask.scan_file(data_files[0], window, step, chunk_size=chunk_size)
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    with pytest.raises(ValueError, match="regular file"):
        tdask.scan_file(fifo, 10)
    # A chunk finding the file shorter than planned says so rather than
    # giving windows of bytes that are not there.
    n = data_files[0].stat().st_size
    with pytest.raises(OSError, match="shrank"):
        tdask._scan_chunk(str(data_files[0]), 100, 100, n - 50, n + 100, n + 100)


def test_histograms_and_reports_pickle_compactly():
    data = sample("random", 1 << 20)
    counted = talvora_tools.histogram(data)
    assert len(pickle.dumps(counted)) < 3000 and pickle.loads(pickle.dumps(counted)) == counted
    report = counted.report()
    assert len(pickle.dumps(report)) < 1000 and pickle.loads(pickle.dumps(report)) == report


def test_without_dask_the_import_says_what_to_install():
    done = run_python("""
        import sys
        sys.modules["dask"] = None  # as if not installed
        import talvora_tools.dask
    """)
    assert done.returncode == 1
    assert done.stderr.splitlines()[-1] == (
        "ImportError: talvora_tools.dask needs Dask and distributed: pip install 'talvora[dask]'")
