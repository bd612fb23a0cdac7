"""talvora_tools.dask: the same exact histograms, reports and scans over more
data than one machine reads in reasonable time, on a Dask cluster (the
optional extra talvora[dask]).

Each chunk is counted where it lies; the parts, which keep what a report
needs at their seams, are merged in the data's order, so every figure is bit
for bit the one-shot result of the same bytes.
"""

from __future__ import annotations

import array
import errno
import math
import os
import stat
from collections.abc import Iterable, Sequence
from typing import TYPE_CHECKING, Any, SupportsIndex, TypeVar

try:
    from dask.array.core import Array
    from dask.bag.core import Bag
    from dask.base import compute
    from dask.delayed import Delayed, delayed
except ImportError as error:
    raise ImportError("talvora_tools.dask needs Dask and distributed: "
                      "pip install 'talvora[dask]'") from error

from talvora_tools import _native, _scan
from talvora_tools._histogram import Histogram, report_file
from talvora_tools._report import Report
from talvora_tools._scan import Scan

if TYPE_CHECKING:
    from distributed import Client

__all__ = ["histogram", "report_files", "scan_file"]

Path = str | bytes | os.PathLike[str] | os.PathLike[bytes]
P = TypeVar("P", bound=Path)

# Parts merged by one task of the merge tree.
FAN_IN = 8
# Rechunked blocks hold about this many bytes.
BLOCK_BYTES = 64 << 20


def histogram(collection: Array | Bag) -> Histogram:
    """The Histogram of a dask.array of 1-byte items (its bytes in C order,
    as histogram() reads a numpy array, whatever its chunks) or of a
    dask.bag of bytes-like items (in the bag's order), counted chunk by
    chunk on the cluster and merged in order."""
    if isinstance(collection, Array):
        parts = _array_parts(collection)
    elif isinstance(collection, Bag):
        # Unoptimised: the optimised graph of a persisted collection loses
        # its futures, and a task would be handed their keys instead.
        partitions = collection.to_delayed(optimize_graph=False)  # type: ignore[no-untyped-call]
        parts = [delayed(_bag_part)(partition) for partition in partitions]
    else:
        raise TypeError("histogram() takes a dask.array of 1-byte items or a dask.bag of bytes, "
                        f"not '{type(collection).__qualname__}'")
    merged: Histogram
    (merged,) = compute(_merged_in_order(parts))  # type: ignore[no-untyped-call]
    return merged


def report_files(paths: Iterable[P], client: Client | None = None) -> list[tuple[P, Report]]:
    """(path, Report) of each file, measured on the cluster's workers (which
    must see the paths), in the order given. Without a client, on Dask's
    default scheduler (the current distributed client, if there is one)."""
    given = list(paths)
    tasks = [delayed(report_file, pure=False)(os.fsdecode(path)) for path in given]
    return list(zip(given, _compute(tasks, client)))


def scan_file(path: Path, window: SupportsIndex, step: SupportsIndex | None = None, *,
              chunk_size: SupportsIndex = 256 << 20, client: Client | None = None) -> Scan:
    """The Scan of a regular file, as talvora_tools.scan_file gives it, its
    windows split into chunks of about chunk_size bytes scanned on the
    cluster's workers (which must see the path). A window that crosses from
    one chunk into the next is scanned whole by the chunk it starts in."""
    size, stride = _scan._shape(window, step)
    span = _positive_size(chunk_size)
    name = os.fsdecode(path)
    info = os.stat(name)
    if stat.S_ISDIR(info.st_mode):
        raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), name)
    if not stat.S_ISREG(info.st_mode):
        raise ValueError(f"a distributed scan reads a regular file at positions, and "
                         f"{name!r} is not one")
    n = info.st_size
    # Each chunk is a whole number of steps: the windows that start in it.
    starts = max(1, span // stride) * stride
    tasks = [delayed(_scan_chunk, pure=False)(name, size, stride, begin, min(begin + starts, n), n)
             for begin in range(0, n, starts)]
    columns: list[array.array[Any]] = [array.array(code) for code in "QQddd"]
    for part in _compute(tasks, client):
        for column, values in zip(columns, part):
            column.extend(values)
    offsets, lengths, shannon, min_entropy, chi_square = columns
    return Scan(offsets, lengths, shannon, min_entropy, chi_square, window=size, step=stride, n=n)


def _array_parts(collection: Array) -> list[Delayed]:
    if collection.dtype.itemsize != 1:
        raise TypeError(f"histogram() counts arrays of 1-byte items, not {collection.dtype}: to "
                        "count an array's raw bytes, view it as uint8 first (x.view('u1'))")
    if collection.size == 0:
        return []
    runs = (collection if _blocks_are_runs(collection.chunks)
            else collection.rechunk(_run_chunks(collection.shape)))  # type: ignore[no-untyped-call]
    blocks = runs.to_delayed(optimize_graph=False).ravel()  # as for bags, see histogram()
    return [delayed(_block_part)(block) for block in blocks]


def _blocks_are_runs(chunks: tuple[tuple[int, ...], ...]) -> bool:
    """Whether each block, taken in C order of the block grid, is a
    contiguous run of the array's bytes in C order: the axes after some axis
    are whole in every block, the axes before it one index thick."""
    split = [k for k, axis in enumerate(chunks) if len(axis) > 1]
    return not split or all(size == 1 for axis in chunks[:split[-1]] for size in axis)


def _run_chunks(shape: tuple[int, ...]) -> tuple[int, ...]:
    """Chunks of about BLOCK_BYTES whose blocks are contiguous runs: the
    first axis whose index spans at most BLOCK_BYTES is cut, those after it
    whole, those before it one index thick."""
    for axis in range(len(shape)):
        inner = math.prod(shape[axis + 1:])
        if inner <= BLOCK_BYTES:
            return (1,) * axis + (max(1, BLOCK_BYTES // inner),) + shape[axis + 1:]
    raise AssertionError("the last axis's index always spans a byte")


def _block_part(block: Any) -> Histogram:
    return Histogram(block)


def _bag_part(items: Iterable[Any]) -> Histogram:
    part = Histogram()
    for item in items:
        part.update(item)
    return part


def _merge(parts: Sequence[Histogram]) -> Histogram:
    merged = Histogram()
    for part in parts:
        merged.merge(part)
    return merged


def _merged_in_order(parts: list[Delayed]) -> Delayed:
    """A tree of merges, each over FAN_IN neighbours, keeping their order."""
    if not parts:
        parts = [delayed(Histogram)()]
    while len(parts) > 1:
        parts = [delayed(_merge)(parts[k:k + FAN_IN]) for k in range(0, len(parts), FAN_IN)]
    return parts[0]


def _compute(tasks: list[Delayed], client: Client | None) -> list[Any]:
    if client is None:
        return list(compute(*tasks))  # type: ignore[no-untyped-call]
    return list(client.gather(client.compute(tasks)))  # type: ignore[no-untyped-call]


def _positive_size(value: SupportsIndex) -> int:
    size = value.__index__()
    if size <= 0:
        raise ValueError(f"chunk_size must be a positive integer, not {size}")
    return size


def _scan_chunk(path: str, window: int, step: int, begin: int, starts_end: int,
                n: int) -> tuple[Any, ...]:
    """The windows that start in [begin, starts_end) of a file of n bytes:
    read from begin as far as the last of them reaches; the chunk that
    reaches the file's end also gives the last, shorter window if one is
    due."""
    scanner = _native._Scanner(min(window, _scan._LARGEST), min(step, _scan._LARGEST), 0, begin,
                               starts_end)
    end = min(scanner.needed_end or n, n)
    fd = os.open(path, os.O_RDONLY | os.O_NOCTTY)
    try:
        for block in _scan._fd_blocks(fd, begin, end - begin, path):
            scanner.feed(block)
    finally:
        os.close(fd)
    if scanner.position < end:
        raise OSError(f"{path}: the file shrank from {n} to {scanner.position} bytes while it "
                      "was scanned")
    if end == n:
        scanner.finish()
    return scanner.take()
