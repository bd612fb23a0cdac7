"""
The native core of talvora_tools: histograms of bytes and their reports.
"""

from collections.abc import Buffer, Sequence
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

    __hash__: None = None

    def _report_fields(self) -> tuple[int, int, int | None, float, float, float, float, float, float, float, float, float, float, float, float, bool]:
        """The report's fields, in order."""

    def _update_fd(self, fd: int, offset: int, length: int | None, name: object) -> int:
        """
        Adds the bytes of the open fd (from offset, or skipping offset bytes of a stream, at most length of them); returns how many were read. Errors name `name`.
        """
