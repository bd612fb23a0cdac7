"""
The native core of talvora_tools: histograms of bytes and their reports.
"""

import array
from collections.abc import Buffer, Callable, Sequence
from typing import SupportsIndex, overload


class Histogram:
    """An exact histogram of bytes, with everything a report needs."""

    @overload
    def __init__(self) -> None:
        """An empty histogram."""

    @overload
    def __init__(self, data: str | Buffer | Sequence[SupportsIndex]) -> None:
        """A histogram of the bytes of data."""

    def update(self, data: str | Buffer | Sequence[SupportsIndex]) -> None:
        """Adds the bytes of data after those counted so far."""

    def merge(self, other: Histogram) -> None:
        """Adds other's bytes, as if they came after this one's."""

    @property
    def total(self) -> int:
        """The number of bytes counted."""

    def __len__(self) -> int: ...

    @property
    def truncated(self) -> bool:
        """Whether a file read into it was cut short while it was read."""

    def __eq__(self, other: object, /) -> bool: ...

    def _counts(self) -> bytes:
        """The 256 counts as native 64-bit unsigned integers."""

    def _state(self) -> bytes:
        """The state as bytes, for pickling."""

    def _set_state(self, state: bytes) -> None:
        """Replaces everything counted by a state from _state()."""

    def _report_fields(self) -> tuple[int, int, int | None, float, float, float, float, float, float, float, float, float, float, float, float, bool]:
        """The report's fields, in order."""

    def _update_fd(self, fd: int, offset: int, length: int | None, name: object) -> int:
        """
        Adds the bytes of the open fd (from offset, or skipping offset bytes of a stream, at most length of them); returns how many were read. Errors name `name`.
        """

def _scan(data: str | Buffer | Sequence[SupportsIndex], window: int, step: int) -> tuple[tuple[array.array[int], array.array[int], array.array[float], array.array[float], array.array[float]], int]:
    """
    The scan of data's bytes: its five columns (offsets, lengths, shannon, min_entropy, chi_square) and the number of bytes.
    """

def _scan_edges(shannon: Buffer, rising: float, falling: float) -> list[tuple[int, bool]]:
    """The edges of a scan's metric entropy: (window index, whether rising)."""

def _scan_regions(offsets: Buffer, lengths: Buffer, shannon: Buffer, threshold: float, min_length: int) -> list[tuple[int, int]]:
    """
    The byte ranges where a scan's metric entropy is at or above threshold.
    """

class _Scanner:
    """
    A scan of a stream fed in successive blocks; any split of the same bytes gives the same windows.
    """

    def __init__(self, window: int, step: int, origin: int = 0, begin: int | None = None, starts_end: int | None = None) -> None:
        """
        Windows start at origin + k * step (stream offsets); the first byte fed is at begin (default origin); windows starting before begin or at or after starts_end are left to other scanners.
        """

    def feed(self, data: str | Buffer | Sequence[SupportsIndex]) -> None:
        """The next bytes of the stream."""

    def finish(self) -> None:
        """The stream ends here: adds the last, shorter window if one is due."""

    def take(self) -> tuple[array.array[int], array.array[int], array.array[float], array.array[float], array.array[float]]:
        """
        The windows produced since the last take: offsets, lengths, shannon, min_entropy, chi_square.
        """

    @property
    def position(self) -> int:
        """The stream offset of the next byte to feed."""

    @property
    def needed_end(self) -> int | None:
        """
        The offset from which on no byte changes this scanner's windows (None: no end).
        """

    @property
    def done(self) -> bool:
        """Whether every window this scanner can produce is out."""

def _non_iid(data: object | None, bits: int, conditioned: bool) -> tuple[int, int, float | None, float | None, float, list[tuple[str, str, float | None, list[tuple[str, int | float]], str]], list[str]]:
    """
    The non-IID assessment of data's samples: (samples, k, h_original, h_bitstring, assessed, estimates, warnings); an estimate is (name, form, min_entropy, values, note).
    """

def _iid(data: object | None, bits: int, permutations: int, seed: int | None, progress: Callable[[int], object] | None) -> tuple[int, int, float, float, bool, list[tuple[str, str, float | None, list[tuple[str, int | float]], str]], float | None, float | None, float, tuple[tuple[float, int, float, bool], tuple[float, int, float, bool], tuple[float, int, float, bool], tuple[list[tuple[str, float, int, int, int, bool | None]], int, int, bool, bool]] | None, bool, list[str]]:
    """
    The IID track on data's samples: (samples, k, mean, median, binary, estimates, h_original, h_bitstring, assessed, tests, is_iid, warnings); tests are (independence, goodness of fit, LRS, permutation). progress(shuffles made) is called between rounds.
    """

def _restart(data: object | None, bits: int, h_initial: float | None, iid: bool, permutations: int, seed: int | None, progress: Callable[[int], object] | None) -> tuple[float, int, tuple[float, int, int, bool], tuple[list[tuple[str, str, float | None, list[tuple[str, int | float]], str]], float, tuple[tuple[float, int, float, bool], tuple[float, int, float, bool], tuple[float, int, float, bool], tuple[list[tuple[str, float, int, int, int, bool | None]], int, int, bool, bool]] | None] | None, tuple[list[tuple[str, str, float | None, list[tuple[str, int | float]], str]], float, tuple[tuple[float, int, float, bool], tuple[float, int, float, bool], tuple[float, int, float, bool], tuple[list[tuple[str, float, int, int, int, bool | None]], int, int, bool, bool]] | None] | None, bool, float | None, list[str]]:
    """
    The restart tests on 1000 restarts of 1000 samples, one restart after another, for the claimed entropy h_initial (None: the entropy the same track assesses on the samples in order): (h_initial, k, sanity (alpha, cutoff, max_count, passed), rows, columns, validated, assessed, warnings); a dataset is (estimates, min_entropy, tests).
    """
