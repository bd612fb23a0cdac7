"""talvora_tools._scan: windowed scans of bytes and files. Per window: its
Shannon entropy, min-entropy and chi-square, bit for bit what the one-shot
measures give for the window's bytes; and, read off them, where the entropy
rises and falls and the byte ranges where it stays high."""

from __future__ import annotations

import array
import dataclasses
import io
import numbers
import operator
import os
import stat
from collections.abc import Iterator
from typing import BinaryIO, Literal, NamedTuple, SupportsIndex

from talvora_tools import _native
from talvora_tools._files import FileSource, blocks, checked_span, file_descriptor
from talvora_tools._histogram import Data

# Window and step are unsigned 64-bit natively; any larger value means the
# same scan as this one (one window, or no second start).
_LARGEST = 2**64 - 1

# No byte of a file lies at or past this position.
_LAST_POSITION = 2**63 - 1

# Files are scanned in blocks of this size: large enough that each block's
# windows spread over the worker pool, small enough to bound the memory.
SCAN_BLOCK = 16 << 20


class Edge(NamedTuple):
    """A window where the metric entropy crossed a threshold: its offset,
    "rising" or "falling", and its metric entropy (Shannon / 8)."""

    offset: int
    kind: Literal["rising", "falling"]
    value: float


@dataclasses.dataclass(frozen=True, slots=True, repr=False)
class Scan:
    """The windows of a scan: window k starts at offsets[k] and covers
    lengths[k] bytes (every window but the last is full, none is empty);
    shannon, min_entropy and chi_square are its values, each bit for bit what
    talvora's measures and report(window bytes).chi_square give. window and
    step are the scan's parameters and n the number of bytes scanned.

    The columns are array.array objects ('Q' and 'd'), so numpy.asarray
    reads them without a copy.
    """

    __module__ = "talvora_tools"

    offsets: array.array[int]
    lengths: array.array[int]
    shannon: array.array[float]
    min_entropy: array.array[float]
    chi_square: array.array[float]
    window: int
    step: int
    n: int

    def __len__(self) -> int:
        return len(self.offsets)

    def __repr__(self) -> str:
        return (f"<talvora_tools.Scan of {len(self)} windows: window={self.window}, "
                f"step={self.step}, n={self.n}>")

    def edges(self, rising: float = 0.95, falling: float = 0.85) -> list[Edge]:
        """Where the metric entropy (Shannon / 8) rises and falls, with
        hysteresis: starting low, the first window at or above rising is a
        rising edge and the state turns high; while high, the first window at
        or below falling is a falling edge and the state turns low."""
        high = _fraction("rising", rising)
        low = _fraction("falling", falling)
        if not high > low:
            raise ValueError(f"rising must be above falling, not {rising!r} <= {falling!r}")
        return [Edge(self.offsets[k], "rising" if up else "falling", self.shannon[k] * 0.125)
                for k, up in _native._scan_edges(self.shannon, high, low)]

    def regions(self, threshold: float = 0.9, *, min_length: SupportsIndex = 0
                ) -> list[tuple[int, int]]:
        """The byte ranges (start, end) covered by windows whose metric
        entropy is at or above threshold: sorted, disjoint (ranges that
        overlap or touch are merged), none shorter than min_length."""
        level = _fraction("threshold", threshold)
        shortest = operator.index(min_length)
        if shortest < 0:
            raise ValueError(f"min_length must not be negative, not {shortest}")
        return _native._scan_regions(self.offsets, self.lengths, self.shannon, level,
                                     min(shortest, _LARGEST))


def scan(data: Data, window: SupportsIndex, step: SupportsIndex | None = None) -> Scan:
    """The Scan of data's bytes (anything histogram() takes) in windows of
    window bytes starting every step bytes (default: window), from offset 0.
    The scan stops after the first window that reaches the end."""
    size, stride = _shape(window, step)
    columns, n = _native._scan(data, min(size, _LARGEST), min(stride, _LARGEST))
    return Scan(*columns, window=size, step=stride, n=n)


def scan_file(path: FileSource, window: SupportsIndex, step: SupportsIndex | None = None, *,
              offset: SupportsIndex = 0, length: SupportsIndex | None = None) -> Scan:
    """The Scan of a file's bytes from offset, at most length of them; the
    windows start at offset and their offsets are offsets in the file (for a
    file object, from its current position). The file is read in blocks, so
    memory stays bounded whatever its size; a file cut short meanwhile gives
    the scan of the bytes that could be read (n says how many)."""
    size, stride = _shape(window, step)
    start, limit = checked_span(offset, length)
    if isinstance(path, (str, bytes, os.PathLike)):
        name = os.fspath(path)
        fd = os.open(name, os.O_RDONLY | os.O_NOCTTY)
        try:
            return _scan_blocks(_fd_blocks(fd, start, limit, name), start, size, stride)
        finally:
            os.close(fd)
    if isinstance(path, io.TextIOBase):
        raise TypeError("a text file was given: open it in binary mode ('rb') to scan its bytes")
    if not (callable(getattr(path, "readinto", None)) or callable(getattr(path, "read", None))):
        raise TypeError("the file must be a str, bytes or os.PathLike path or a binary file "
                        f"object, not '{type(path).__qualname__}'")
    return _scan_file_object(path, start, limit, size, stride)


def _shape(window: SupportsIndex, step: SupportsIndex | None) -> tuple[int, int]:
    size = _positive("window", window)
    return size, size if step is None else _positive("step", step)


def _positive(name: str, value: SupportsIndex) -> int:
    number = operator.index(value)
    if number <= 0:
        raise ValueError(f"{name} must be a positive integer, not {number}")
    return number


def _fraction(name: str, value: float) -> float:
    if not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number, not '{type(value).__qualname__}'")
    fraction = float(value)
    if not 0.0 <= fraction <= 1.0:
        raise ValueError(f"{name} must be in [0, 1], not {value!r}")
    return fraction


def _scan_blocks(source: Iterator[memoryview], origin: int, size: int, stride: int) -> Scan:
    scanner = _native._Scanner(min(size, _LARGEST), min(stride, _LARGEST),
                               min(origin, _LARGEST))
    n = 0
    for block in source:
        scanner.feed(block)
        n += len(block)
    scanner.finish()
    return Scan(*scanner.take(), window=size, step=stride, n=n)


def _scan_file_object(file: BinaryIO, start: int, limit: int | None, size: int,
                      stride: int) -> Scan:
    """From the file's current position; afterwards it stands after the
    bytes read, as if read() had read them."""
    fd = file_descriptor(file)
    if fd is not None and file.seekable():
        file.flush()
        position = file.tell() + start
        scanned = _scan_blocks(_fd_blocks(fd, position, limit, getattr(file, "name", fd)),
                               position, size, stride)
        file.seek(position + scanned.n)
        return scanned
    # Through the object: a buffered stream holds bytes its descriptor no
    # longer has.
    return _scan_blocks(blocks(file, start, limit), start, size, stride)


def _fd_blocks(fd: int, start: int, limit: int | None, name: object) -> Iterator[memoryview]:
    """The bytes of fd from start (a position in a regular file or block
    device; bytes to skip in a stream), at most limit of them, in views of
    one buffer, each valid until the next. Errors name the file."""
    mode = os.fstat(fd).st_mode
    at_positions = stat.S_ISREG(mode) or stat.S_ISBLK(mode)
    position, skip = (start, 0) if at_positions else (0, start)
    if position >= _LAST_POSITION:
        return
    # A short read needs no full-sized buffer (a fresh large one costs a
    # page fault per page).
    view = memoryview(bytearray(SCAN_BLOCK if limit is None else min(SCAN_BLOCK, skip + limit)))
    try:
        while skip > 0:
            got = os.readv(fd, [view[:min(skip, SCAN_BLOCK)]])
            if got == 0:
                return
            skip -= got
        while limit is None or limit > 0:
            want = view if limit is None or limit >= SCAN_BLOCK else view[:limit]
            got = os.preadv(fd, [want], position) if at_positions else os.readv(fd, [want])
            if got == 0:
                return
            position += got
            if limit is not None:
                limit -= got
            yield view[:got]
    except OSError as error:
        if error.filename is not None:
            raise
        raise OSError(error.errno, error.strerror, name) from None
