"""Windowed scans: every window's values bit for bit what talvora's measures
and report(window bytes).chi_square give, for random window/step pairs, every
input kind and files read block by block; edges and regions on crafted data
at exact offsets; and the argument errors."""

import array
import copy
import dataclasses
import io
import math
import os
import pickle
import random
import struct
import threading
import time

import numpy as np
import pytest

import talvora
import talvora_tools
from support import SANITIZED
from talvora_tools import Edge, Scan, scan, scan_file
from talvora_tools import _native
from talvora_tools import _scan as scan_module
from tools_support import english, sample

SHANNON = talvora.shannon_entropy_algo.measure_entropy
MIN_ENTROPY = talvora.min_entropy_algo.measure_entropy


def bits(value: float) -> bytes:
    return struct.pack("<d", value)


def windows_by_definition(n, window, step):
    """(start, end) of each window, straight from the rules."""
    start = 0
    while start < n:
        end = min(start + window, n)
        yield start, end
        if end == n:
            return
        start += step


def assert_one_shot_values(result: Scan, data: bytes, window: int, step: int, origin: int = 0):
    expected = list(windows_by_definition(len(data), window, step))
    assert list(result.offsets) == [origin + start for start, _ in expected]
    assert list(result.lengths) == [end - start for start, end in expected]
    for k, (start, end) in enumerate(expected):
        piece = data[start:end]
        assert bits(result.shannon[k]) == bits(SHANNON(piece)), (k, start)
        assert bits(result.min_entropy[k]) == bits(MIN_ENTROPY(piece)), (k, start)
        assert bits(result.chi_square[k]) == bits(talvora_tools.report(piece).chi_square), (k, start)
    assert (result.window, result.step, result.n) == (window, step, len(data))


def random_pairs(seed, count, max_n):
    """(n, window, step): sliding, overlapping, touching, with gaps, and
    windows longer than the data."""
    rng = random.Random(seed)
    for _ in range(count):
        n = rng.randint(0, max_n)
        window = rng.randint(1, 2 * max_n if rng.random() < 0.2 else max_n // 3 + 1)
        step = max(1, int(math.exp(rng.uniform(0, math.log(2 * window)))))
        yield n, window, step


@pytest.mark.parametrize("kind", ["random", "text", "zeros", "compressed"])
def test_every_window_equals_the_one_shot_measures(kind):
    data = sample(kind, 5000, seed=3)
    for n, window, step in random_pairs(hash(kind) % 1000, 25, len(data)):
        assert_one_shot_values(scan(data[:n], window, step), data[:n], window, step)


def test_edge_cases_of_the_window_rules():
    data = sample("random", 1000)
    for window, step in [(1, 1), (1000, 1), (999, 1), (1001, 7), (10, 300), (300, 10), (250, 250)]:
        assert_one_shot_values(scan(data, window, step), data, window, step)
    empty = scan(b"", 16)
    assert len(empty) == 0 and empty.n == 0 and empty.step == 16
    assert list(scan(data, 300, 1000).offsets) == [0]  # the next start is past the end
    huge = scan(b"abc", 2**70, 2**80)  # beyond 64 bits: one window all the same
    assert (list(huge.lengths), huge.window, huge.step) == ([3], 2**70, 2**80)


def test_single_valued_windows_keep_the_sign_of_zero():
    result = scan(bytes(100), 10, 3)
    assert {bits(h) for h in result.shannon} == {bits(-0.0)}
    # -log2(1): the one-shot min-entropy of one repeated value is -0.0 too.
    assert {bits(h) for h in result.min_entropy} == {bits(MIN_ENTROPY(bytes(10)))} == {bits(-0.0)}


def test_columns_are_arrays_that_numpy_reads_in_place():
    result = scan(sample("random", 10_000), 1000, 250)
    assert [c.typecode for c in (result.offsets, result.lengths)] == ["Q", "Q"]
    assert {c.typecode for c in (result.shannon, result.min_entropy, result.chi_square)} == {"d"}
    for column in (result.offsets, result.shannon, result.chi_square):
        seen = np.asarray(column)
        column[3] = 7
        assert seen[3] == 7  # the same memory, not a copy
    assert len(result) == len(result.offsets) == 37
    assert repr(result) == "<talvora_tools.Scan of 37 windows: window=1000, step=250, n=10000>"


def test_a_scan_pickles_and_compares_by_its_values():
    result = scan(sample("text", 5000), 700, 300)
    assert pickle.loads(pickle.dumps(result)) == result
    changed = copy.deepcopy(result)
    changed.chi_square[2] += 1
    assert changed != result and scan(b"abc", 2) != scan(b"abc", 2, 1)
    with pytest.raises(dataclasses.FrozenInstanceError):
        result.n = 3


def test_every_input_kind_scans_as_its_bytes():
    content = english(3000)
    expected = scan(content, 512, 100)
    items = np.frombuffer(content, np.uint8)
    for data in [bytearray(content), memoryview(content), array.array("B", content), items,
                 np.repeat(items, 2)[::2], items.reshape(3, 1000), items.view(np.int8),
                 list(content), content.decode()]:
        assert scan(data, 512, 100) == expected, type(data)


def test_refusals_are_histograms():
    cases = [np.zeros(3, np.uint16), [1, 256], [1, 2.5], None, 5]
    for data in cases:
        with pytest.raises((TypeError, ValueError)) as expected:
            talvora_tools.histogram(data)
        with pytest.raises(expected.type) as got:
            scan(data, 4)
        assert str(got.value) == str(expected.value)
    released = memoryview(b"abc")
    released.release()
    with pytest.raises(ValueError, match="released"):
        scan(released, 2)


def test_argument_errors():
    data = b"some bytes"
    for window, step in [(0, None), (-1, None), (4, 0), (4, -2)]:
        with pytest.raises(ValueError, match="must be a positive integer"):
            scan(data, window, step)
        with pytest.raises(ValueError, match="must be a positive integer"):
            scan_file(__file__, window, step)
    for window in [1.5, "4", None]:
        with pytest.raises(TypeError):
            scan(data, window)
    result = scan(data, 4)
    for rising, falling in [(0.8, 0.85), (0.9, 0.9), (1.5, 0.8), (0.9, -0.1), (math.nan, 0.5)]:
        with pytest.raises(ValueError):
            result.edges(rising, falling)
    with pytest.raises(TypeError):
        result.edges("0.9", 0.1)
    for threshold in [-0.01, 1.01, math.nan]:
        with pytest.raises(ValueError):
            result.regions(threshold)
    with pytest.raises(ValueError):
        result.regions(0.5, min_length=-1)
    with pytest.raises(TypeError):
        result.regions(0.5, min_length=1.0)


# zeros | random | text | random | zeros, each a whole number of 1 KiB windows.
SEGMENTS = [("zeros", 8192), ("random", 16384), ("text", 8192), ("random", 8192), ("zeros", 4096)]
SANDWICH = b"".join(sample(kind, size, seed=i) for i, (kind, size) in enumerate(SEGMENTS))


def test_edges_and_regions_of_a_sandwich_at_exact_offsets():
    result = scan(SANDWICH, 1024)
    metric = [h / 8 for h in result.shannon]
    # The windows inside each segment are unmistakable.
    assert max(metric[:8]) == 0 and min(metric[8:24]) > 0.95 and max(metric[24:32]) < 0.85
    assert result.edges() == [Edge(8192, "rising", metric[8]), Edge(24576, "falling", metric[24]),
                              Edge(32768, "rising", metric[32]), Edge(40960, "falling", 0.0)]
    assert all(isinstance(e.offset, int) and e.kind in ("rising", "falling") for e in result.edges())
    assert result.regions() == [(8192, 24576), (32768, 40960)]
    assert result.regions(min_length=10_000) == [(8192, 24576)]
    assert result.regions(0.0) == [(0, len(SANDWICH))]
    assert result.edges(rising=1.0, falling=0.99) == []


def reference_edges(result, rising, falling):
    edges, high = [], False
    for offset, h in zip(result.offsets, result.shannon):
        if (h / 8 <= falling) if high else (h / 8 >= rising):
            high = not high
            edges.append(Edge(offset, "rising" if high else "falling", h / 8))
    return edges


def reference_regions(result, threshold, min_length):
    merged = []
    for offset, length, h in zip(result.offsets, result.lengths, result.shannon):
        if h / 8 >= threshold:
            if merged and offset <= merged[-1][1]:
                merged[-1][1] = max(merged[-1][1], offset + length)
            else:
                merged.append([offset, offset + length])
    return [(a, b) for a, b in merged if b - a >= min_length]


@pytest.mark.parametrize("window, step", [(2048, 256), (4096, 16), (1000, 3000), (300, 300)])
def test_edges_and_regions_of_sliding_scans_follow_their_rules(window, step):
    result = scan(SANDWICH, window, step)
    for rising, falling in [(0.95, 0.85), (0.7, 0.2), (1.0, 0.0)]:
        assert result.edges(rising, falling) == reference_edges(result, rising, falling)
    for threshold, min_length in [(0.9, 0), (0.6, 5000), (0.99, 0)]:
        assert (result.regions(threshold, min_length=min_length)
                == reference_regions(result, threshold, min_length))


@pytest.fixture
def small_blocks(monkeypatch):
    """Files read in blocks of 777 bytes, so windows are cut at many seams."""
    monkeypatch.setattr(scan_module, "SCAN_BLOCK", 777)


@pytest.mark.parametrize("window, step", [(4096, 16), (1000, 999), (100, 2000), (50_000, 3)])
def test_a_file_scans_as_its_bytes_across_block_seams(tmp_path, small_blocks, window, step):
    path = tmp_path / "sandwich"
    path.write_bytes(SANDWICH)
    assert scan_file(path, window, step) == scan(SANDWICH, window, step)
    part = scan_file(str(path), window, step, offset=1234, length=20_000)
    assert_one_shot_values(part, SANDWICH[1234:21234], window, step, origin=1234)
    with open(path, "rb") as file:
        file.seek(100)
        from_object = scan_file(file, window, step, offset=11)
        assert file.tell() == len(SANDWICH)
    assert_one_shot_values(from_object, SANDWICH[111:], window, step, origin=111)


def test_file_sources_without_positions(tmp_path, small_blocks):
    data = SANDWICH[:9000]
    assert_one_shot_values(scan_file(io.BytesIO(data), 700, 70, offset=5), data[5:], 700, 70, 5)
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    writer = threading.Thread(target=fifo.write_bytes, args=(data,))
    writer.start()
    try:
        result = scan_file(fifo, 700, 70, offset=10, length=5000)
    finally:
        writer.join()
    assert_one_shot_values(result, data[10:5010], 700, 70, origin=10)


def test_file_errors_name_the_file(tmp_path):
    with pytest.raises(FileNotFoundError) as missing:
        scan_file(tmp_path / "missing", 16)
    assert missing.value.filename == str(tmp_path / "missing")
    with pytest.raises(IsADirectoryError) as directory:
        scan_file(tmp_path, 16)
    assert directory.value.filename == str(tmp_path)
    with pytest.raises(ValueError):
        scan_file(__file__, 16, offset=-1)
    with open(__file__) as text, pytest.raises(TypeError, match="binary mode"):
        scan_file(text, 16)
    with pytest.raises(TypeError):
        scan_file(3.5, 16)
    assert len(scan_file(__file__, 16, offset=2**70)) == 0


def test_chunk_scanners_together_give_the_whole_scan():
    # The shape a distributed scan uses: each chunk's scanner is fed from
    # its chunk on, as far as its windows need, and yields those that start
    # in it; the last one also sees the end.
    data, window, step, chunk = SANDWICH, 4096, 100, 10_000
    columns = [array.array(t) for t in "QQddd"]
    for begin in range(0, len(data), chunk):
        scanner = _native._Scanner(window, step, 0, begin, begin + chunk)
        end = min(scanner.needed_end or len(data), len(data))
        scanner.feed(memoryview(data)[begin:end])
        if end == len(data):
            scanner.finish()
        assert scanner.done
        for column, part in zip(columns, scanner.take()):
            column.extend(part)
    assert Scan(*columns, window=window, step=step, n=len(data)) == scan(data, window, step)


def test_a_scanner_refuses_bytes_after_the_end():
    scanner = _native._Scanner(4, 4)
    scanner.feed(b"abcdef")
    scanner.finish()
    assert [list(c) for c in scanner.take()[:2]] == [[0, 4], [4, 2]]
    with pytest.raises(ValueError, match="ended"):
        scanner.feed(b"g")
    with pytest.raises(ValueError):
        _native._Scanner(0, 1)


@pytest.mark.skipif(SANITIZED, reason="timing under the sanitizers says nothing")
def test_other_threads_run_during_a_scan():
    # Long windows sliding by a long step: much native work, few windows.
    data = np.random.default_rng(0).integers(0, 256, 16 << 20, np.uint8)
    began = time.perf_counter()
    scan(data, 1 << 16, 1 << 12)
    alone = time.perf_counter() - began
    if alone < 0.04:
        pytest.skip(f"the scan took only {alone * 1000:.0f} ms")
    scanning = threading.Thread(target=scan, args=(data, 1 << 16, 1 << 12))
    ticks = 0
    scanning.start()
    while scanning.is_alive():
        time.sleep(0.001)
        ticks += 1
    scanning.join()
    # Holding the interpreter lock, the scan would leave no tick until done.
    assert ticks >= 5
