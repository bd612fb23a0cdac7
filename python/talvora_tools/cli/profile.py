"""talvora_tools.cli.profile: a scan as text for people: one line per window
with a bar, or, when that would not fit the terminal, one line per range of
windows with a sparkline of the Shannon entropy along it."""

from __future__ import annotations

import math
import shutil
import sys
from collections.abc import Iterator, Sequence

from talvora_tools import Scan
from talvora_tools.cli.formats import Column, Record, fixed

# Bits per byte: the top of every bar and sparkline.
TOP = 8.0
BAR_WIDTH = 24
# A sparkline mark per bit of Shannon entropy: 0-1 bits is the lowest.
MARKS = "▁▂▃▄▅▆▇█"
EIGHTHS = "▏▎▍▌▋▊▉█"
ASCII_MARKS = "_.-:=+*#"

WINDOW_COLUMNS = (
    Column("offset", "offset", str, 12),
    Column("shannon", "Shannon", fixed(4), 7),
    Column("min_entropy", "min-entropy", fixed(4)),
    Column("chi_square", "chi-square", fixed(2), 12),
    Column("bar", "Shannon, 0 to 8 bits per byte", left=True),
)
RANGE_COLUMNS = (
    Column("start", "from", str, 12),
    Column("end", "to", str, 12),
    Column("low", "min", fixed(3), 5),
    Column("mean", "mean", fixed(3), 5),
    Column("high", "max", fixed(3), 5),
    Column("sparkline", "Shannon along the range", left=True),
)
# What a line of ranges takes besides its sparkline.
RANGE_FIXED_WIDTH = 12 + 2 + 12 + 3 * (2 + 5) + 2


def unicode_output() -> bool:
    try:
        (MARKS + EIGHTHS).encode(sys.stdout.encoding or "ascii")
    except (LookupError, UnicodeEncodeError):
        return False
    return True


def fits_terminal(scan: Scan) -> bool:
    """Whether every window gets its own line: always when the output is not
    a terminal (a pipe or a file wants them all), else when they fit."""
    return not sys.stdout.isatty() or len(scan) <= shutil.get_terminal_size().lines - 4


def window_records(scan: Scan) -> Iterator[Record]:
    glyphs = unicode_output()
    for k in range(len(scan)):
        shannon = scan.shannon[k]
        yield {"offset": scan.offsets[k], "shannon": shannon, "min_entropy": scan.min_entropy[k],
               "chi_square": scan.chi_square[k], "bar": bar(shannon, glyphs)}


def bar(value: float, glyphs: bool) -> str:
    eighths = round(value / TOP * BAR_WIDTH * 8)
    if not glyphs:
        return "#" * (eighths // 8)
    whole, part = divmod(eighths, 8)
    return EIGHTHS[-1] * whole + (EIGHTHS[part - 1] if part else "")


def range_layout(windows: int) -> tuple[int, int]:
    """(windows per mark, marks per line) so that the lines fit the
    terminal: at most a screenful, each as wide as the terminal allows."""
    size = shutil.get_terminal_size()
    marks = max(8, min(64, size.columns - RANGE_FIXED_WIDTH))
    lines = max(4, min(40, size.lines - 6))
    per_mark = max(1, math.ceil(windows / (marks * lines)))
    return per_mark, marks


def range_records(scan: Scan, per_mark: int, marks: int) -> Iterator[Record]:
    glyphs = MARKS if unicode_output() else ASCII_MARKS
    per_line = per_mark * marks
    for first in range(0, len(scan), per_line):
        last = min(first + per_line, len(scan))
        shannon = scan.shannon[first:last]
        sparkline = "".join(
            glyphs[min(7, int(mean(shannon[k:k + per_mark])))] for k in range(0, len(shannon), per_mark))
        yield {"start": scan.offsets[first], "end": scan.offsets[last - 1] + scan.lengths[last - 1],
               "low": min(shannon), "mean": mean(shannon), "high": max(shannon),
               "sparkline": sparkline}


def mean(values: Sequence[float]) -> float:
    return sum(values) / len(values)

