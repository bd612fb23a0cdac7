"""talvora_tools._histogram: Histogram, and the one-shot forms over it."""

from __future__ import annotations

import collections.abc
from typing import ClassVar, SupportsIndex

from talvora_tools import _native
from talvora_tools._files import FileSource, add_file
from talvora_tools._report import Report

# What every `data` parameter takes: a str (its UTF-8 bytes), any buffer of
# 1-byte items, or a sequence of ints 0..255.
Data = str | collections.abc.Buffer | collections.abc.Sequence[SupportsIndex]


def _restore(state: bytes) -> Histogram:
    histogram = Histogram()
    histogram._set_state(state)
    return histogram


class Histogram(_native.Histogram):
    """An exact byte histogram (64-bit counts) that also keeps what a Report
    needs beyond the counts: the sums of neighbouring bytes, the Monte Carlo
    points and the bytes at either end, so histograms of consecutive pieces
    merge into exactly the histogram of the whole.

    Histogram() is empty; Histogram(data) counts data. Safe to update from
    many threads at once: each update is added whole.
    """

    __slots__ = ()
    __module__ = "talvora_tools"
    __hash__: ClassVar[None] = None  # type: ignore[assignment]  # mutable, compared by value

    @property
    def counts(self) -> memoryview:
        """The 256 counts, a read-only snapshot of format 'Q'."""
        return memoryview(self._counts()).cast("Q")

    def report(self) -> Report:
        """The Report of everything counted so far."""
        return Report(*self._report_fields())

    def update_file(self, path: FileSource, *, offset: SupportsIndex = 0,
                    length: SupportsIndex | None = None) -> None:
        """Adds the bytes of a file (a path, or a binary file object from its
        current position), from offset, at most length of them. Read in
        bounded memory without the interpreter lock; a file cut short
        meanwhile adds the bytes that could be read and sets truncated."""
        add_file(self, path, offset, length)

    def copy(self) -> Histogram:
        copied = Histogram()
        copied.merge(self)
        return copied

    __copy__ = copy

    def __deepcopy__(self, memo: dict[int, object]) -> Histogram:
        return self.copy()

    def __add__(self, other: _native.Histogram) -> Histogram:
        if not isinstance(other, _native.Histogram):
            return NotImplemented
        total = self.copy()
        total.merge(other)
        return total

    def __reduce__(self) -> tuple[object, tuple[bytes]]:
        return _restore, (self._state(),)

    def __repr__(self) -> str:
        truncated = ", truncated=True" if self.truncated else ""
        return f"<talvora_tools.Histogram of {self.total} bytes{truncated}>"


def histogram(data: Data) -> Histogram:
    """The Histogram of data's bytes."""
    return Histogram(data)


def report(data: Data) -> Report:
    """The Report of data's bytes."""
    return Histogram(data).report()


def histogram_file(path: FileSource, *, offset: SupportsIndex = 0,
                   length: SupportsIndex | None = None) -> Histogram:
    """The Histogram of a file's bytes (see Histogram.update_file)."""
    counted = Histogram()
    counted.update_file(path, offset=offset, length=length)
    return counted


def report_file(path: FileSource, *, offset: SupportsIndex = 0,
                length: SupportsIndex | None = None) -> Report:
    """The Report of a file's bytes (see Histogram.update_file)."""
    return histogram_file(path, offset=offset, length=length).report()

