"""talvora_tools._report: Report, the randomness figures of a run of bytes."""

from __future__ import annotations

import dataclasses
import struct


@dataclasses.dataclass(frozen=True, slots=True, eq=False)
class Report:
    """What a run of bytes looks like to someone asking how random it is.

    Every figure is a pure function of the bytes, worked out from exact
    integer sums; one that is undefined for the input (too few bytes, a
    constant input) is NaN.

    n: the number of bytes. distinct: how many of the 256 byte values occur.
    mode: the most frequent byte value (the lowest on ties), None when empty.
    shannon, metric, normalized, min_entropy: bit for bit what talvora's four
    measures give (bits per byte; Shannon over 8; over the entropy random data
    of that length is expected to have; -log2 of the top byte's frequency).
    mcv_p_upper, mcv_min_entropy: the SP 800-90B most-common-value bound, the
    upper 99.5 % confidence limit of the top byte's probability and -log2 of
    it: a min-entropy one may claim with confidence.
    chi_square, p_value: Pearson's statistic against uniform bytes and the
    chance that uniform random bytes would score higher.
    mean: the mean byte value (127.5 for random data).
    monte_carlo_pi, monte_carlo_pi_error: pi estimated from successive 6-byte
    groups as points in a square, and its error in percent.
    serial_correlation: the correlation of each byte with the next (the last
    with the first), near 0 for random data.
    truncated: True when a file was cut short while it was read; n is then the
    number of bytes that could be read.
    """

    __module__ = "talvora_tools"

    n: int
    distinct: int
    mode: int | None
    shannon: float
    metric: float
    normalized: float
    min_entropy: float
    mcv_p_upper: float
    mcv_min_entropy: float
    chi_square: float
    p_value: float
    mean: float
    monte_carlo_pi: float
    monte_carlo_pi_error: float
    serial_correlation: float
    truncated: bool = False

    def as_dict(self) -> dict[str, int | float | bool | None]:
        """The fields by name, in their order."""
        return {field.name: getattr(self, field.name) for field in dataclasses.fields(self)}

    def _key(self) -> tuple[object, ...]:
        # Floats by their bits: the report of the same bytes is equal to
        # itself even where a field is NaN, and -0.0 is not 0.0.
        return tuple(struct.pack("<d", value) if isinstance(value, float) else value
                     for value in self.as_dict().values())

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Report):
            return NotImplemented
        return self._key() == other._key()

    def __hash__(self) -> int:
        return hash(self._key())
