"""talvora_tools.cli.scan_command: talvora scan FILE --window N ...: the
entropy window by window along a file, its edges and high-entropy regions,
as text, JSON, CSV or a picture."""

from __future__ import annotations

import argparse
import functools
import os
import re
import stat
from collections.abc import Iterator, Sequence

import talvora_tools
from talvora_tools import Edge, Scan, _scan
from talvora_tools.cli import plot, profile, work
from talvora_tools.cli.command import Command, Context, UsageError
from talvora_tools.cli.formats import Column, Record, fixed
from talvora_tools.cli.inputs import STDIN, reason
from talvora_tools.cli.progress import Progress

EDGE_COLUMNS = (
    Column("offset", "offset", str, 12),
    Column("kind", "kind", str, 7, left=True),
    Column("value", "metric", fixed(4), 6),
)
REGION_COLUMNS = (
    Column("start", "start", str, 12),
    Column("end", "end", str, 12),
    Column("length", "length", str, 12),
)
# Where a bar is on the screen, a scan larger than this is fed block by block,
# so the bar moves; the windows are the same either way.
BAR_SCAN_SIZE = 64 << 20

_BYTE_COUNT = re.compile(r"(\d+)([kmg]?)(?:i?b)?", re.IGNORECASE)


def byte_count(text: str) -> int:
    """A positive number of bytes: digits, optionally followed by K, M or G
    (powers of 1024)."""
    match = _BYTE_COUNT.fullmatch(text.strip())
    value = int(match[1]) << (10 * " kmg".index(match[2].lower() or " ")) if match else 0
    if value <= 0:
        raise argparse.ArgumentTypeError(f"must be a positive integer, not {text!r}")
    return value


def fraction(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        value = -1.0
    if not 0.0 <= value <= 1.0:
        raise argparse.ArgumentTypeError(f"must be a number from 0 to 1, not {text!r}")
    return value


def length(text: str) -> int:
    value = int(text) if text.isdigit() else -1
    if value < 0:
        raise argparse.ArgumentTypeError(f"must be a whole number of bytes, not {text!r}")
    return value


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("file", metavar="FILE", help="the file to scan, or - for standard input")
    parser.add_argument("-w", "--window", type=byte_count, required=True, metavar="N",
                        help="bytes per window (K, M, G: KiB, MiB, GiB)")
    parser.add_argument("-s", "--step", type=byte_count, metavar="M",
                        help="bytes from one window's start to the next (default: the window)")
    parser.add_argument("--edges", action="store_true",
                        help="list where the metric entropy (Shannon / 8) rises and falls")
    parser.add_argument("--rising", type=fraction, default=0.95, metavar="R",
                        help="a rising edge is a window at or above R (default 0.95)")
    parser.add_argument("--falling", type=fraction, default=0.85, metavar="F",
                        help="a falling edge is a window at or below F (default 0.85)")
    parser.add_argument("--regions", type=fraction, metavar="T",
                        help="list the byte ranges whose windows have a metric entropy of at least T")
    parser.add_argument("--min-length", type=length, default=0, metavar="L",
                        help="leave out regions shorter than L bytes")
    parser.add_argument("--plot", metavar="OUT",
                        help="draw the scan to OUT.png or OUT.svg (needs talvora[plot]) "
                             "instead of the text profile")


def run(options: argparse.Namespace, context: Context) -> None:
    if options.edges and not options.rising > options.falling:
        raise UsageError(f"--rising ({options.rising}) must be above --falling ({options.falling})")
    if options.plot is not None:
        plot.check_target(options.plot)
    with context.progress(regular_size(options.file), "scanning") as (counter, bar):
        task = functools.partial(scanned, options.file, options.window, options.step, counter)
        (future,) = work.in_order([task], bar)
        try:
            scan = future.result()
        except OSError as error:
            context.fail(options.file, reason(error))
            return
    edges = scan.edges(options.rising, options.falling) if options.edges else None
    regions = (None if options.regions is None
               else scan.regions(options.regions, min_length=options.min_length))
    if context.style == "json":
        context.write([json_record(options.file, scan, edges, regions)], ())
    elif context.style == "csv":
        context.write(csv_records(scan, edges, regions), ())
    else:
        write_text(context, options, scan, edges, regions)
    if options.plot is not None:
        title = f"{options.file}: windows of {scan.window} bytes every {scan.step} bytes"
        try:
            plot.draw(scan, edges or [], regions or [], options.plot, title)
        except OSError as error:
            context.fail(options.plot, reason(error))


def regular_size(path: str) -> int | None:
    try:
        info = os.stat(path) if path != STDIN else None
    except (OSError, ValueError):
        return None  # the scan itself reports why
    return info.st_size if info is not None and stat.S_ISREG(info.st_mode) else None


def scanned(path: str, window: int, step: int | None, counter: Progress) -> Scan:
    if path == STDIN:
        with open(0, "rb", buffering=0, closefd=False) as stdin:
            return talvora_tools.scan_file(stdin, window, step)
    if counter.shown and (counter.total or 0) > BAR_SCAN_SIZE:
        return scanned_with_progress(path, window, window if step is None else step, counter)
    return talvora_tools.scan_file(path, window, step)


def scanned_with_progress(path: str, window: int, step: int, counter: Progress) -> Scan:
    """The same scan, its blocks counted as they are fed to the scanner."""
    def counted(blocks: Iterator[memoryview]) -> Iterator[memoryview]:
        for block in blocks:
            yield block
            counter.add(len(block))

    fd = os.open(path, os.O_RDONLY | os.O_NOCTTY)
    try:
        return _scan._scan_blocks(counted(_scan._fd_blocks(fd, 0, None, path)), 0, window, step)
    finally:
        os.close(fd)


def json_record(path: str, scan: Scan, edges: Sequence[Edge] | None,
                regions: Sequence[tuple[int, int]] | None) -> Record:
    record: dict[str, object] = {"path": path, "window": scan.window, "step": scan.step,
                                 "n": scan.n, "offsets": scan.offsets, "lengths": scan.lengths,
                                 "shannon": scan.shannon, "min_entropy": scan.min_entropy,
                                 "chi_square": scan.chi_square}
    if edges is not None:
        record["edges"] = [edge._asdict() for edge in edges]
    if regions is not None:
        record["regions"] = regions
    return record


def csv_records(scan: Scan, edges: Sequence[Edge] | None,
                regions: Sequence[tuple[int, int]] | None) -> Iterator[Record]:
    """One row per window; with edges, the kind of edge at the window; with
    regions, the start of the region that the window's start lies in."""
    edge_at = {edge.offset: edge.kind for edge in edges or ()}
    region_starts = iter(regions or ())
    region = next(region_starts, None)
    for k in range(len(scan)):
        offset = scan.offsets[k]
        record: dict[str, object] = {
            "offset": offset, "length": scan.lengths[k], "shannon": scan.shannon[k],
            "min_entropy": scan.min_entropy[k], "chi_square": scan.chi_square[k]}
        if edges is not None:
            record["edge"] = edge_at.get(offset)
        if regions is not None:
            while region is not None and region[1] <= offset:
                region = next(region_starts, None)
            record["region"] = region[0] if region is not None and region[0] <= offset else None
        yield record


def write_text(context: Context, options: argparse.Namespace, scan: Scan,
               edges: Sequence[Edge] | None, regions: Sequence[tuple[int, int]] | None) -> None:
    if options.plot is None:
        context.text(f"{options.file}: {scan.n} bytes, {len(scan)} windows of {scan.window} "
                     f"bytes every {scan.step} bytes")
        if profile.fits_terminal(scan):
            context.write(profile.window_records(scan), profile.WINDOW_COLUMNS)
        else:
            per_mark, marks = profile.range_layout(len(scan))
            context.text(f"one line per {per_mark * marks} windows, a mark per {per_mark} "
                         f"(their mean Shannon entropy, {profile.MARKS[0]} 0-1 to "
                         f"{profile.MARKS[-1]} 7-8 bits per byte)")
            context.write(profile.range_records(scan, per_mark, marks), profile.RANGE_COLUMNS)
    if edges is not None:
        context.text(f"\nedges (metric entropy rising to {options.rising} or above, "
                     f"falling to {options.falling} or below): {len(edges)}")
        context.write((edge._asdict() for edge in edges), EDGE_COLUMNS)
    if regions is not None:
        context.text(f"\nregions (metric entropy {options.regions} or above"
                     f"{f', at least {options.min_length} bytes' if options.min_length else ''}): "
                     f"{len(regions)}")
        context.write(({"start": start, "end": end, "length": end - start}
                       for start, end in regions), REGION_COLUMNS)


COMMAND = Command("scan", "the entropy window by window along a file, its edges and regions",
                  add_arguments, run)
