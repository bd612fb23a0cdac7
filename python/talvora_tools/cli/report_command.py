"""talvora_tools.cli.report_command: talvora [report] FILE...: the
randomness report of each input, one row each, in the order given."""

from __future__ import annotations

import argparse
import functools
from collections.abc import Callable, Iterator, Sequence

import talvora_tools
from talvora_tools import Histogram, Report
from talvora_tools.cli import work
from talvora_tools.cli.command import Command, Context
from talvora_tools.cli.formats import Column, Record, fixed, small
from talvora_tools.cli.inputs import Failure, Source, expand, reason
from talvora_tools.cli.progress import Bar, Progress

# The table's columns (JSON and CSV carry every field of the report). The
# path comes last, so the numbers line up as rows arrive.
COLUMNS = (
    Column("n", "bytes", str, 12),
    Column("shannon", "Shannon", fixed(6), 8),
    Column("min_entropy", "min-entropy", fixed(6)),
    Column("chi_square", "chi-square", fixed(2), 12),
    Column("p_value", "p-value", small, 7),
    Column("mean", "mean", fixed(4), 8),
    Column("monte_carlo_pi_error", "pi error %", fixed(4)),
    Column("serial_correlation", "serial corr", fixed(6)),
    Column("path", "file", left=True),
)

# With a bar on the screen, a large file is read in spans of this size, so
# the bar moves while it is read; the report is the same either way.
SPAN = 64 << 20


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("files", nargs="+", metavar="FILE",
                        help="a file, a directory (with -r), or - for standard input")
    parser.add_argument("-r", "--recursive", action="store_true",
                        help="measure the regular files under each directory, in sorted path "
                             "order, without following symbolic links")


def run(options: argparse.Namespace, context: Context) -> None:
    items = list(expand(options.files, options.recursive))
    sizes = [item.size for item in items if isinstance(item, Source)]
    total = None if None in sizes else sum(size for size in sizes if size is not None)
    with context.progress(total, "measuring") as (counter, bar):
        context.write(rows(items, counter, bar, context), COLUMNS)


def rows(items: Sequence[Source | Failure], counter: Progress, bar: Bar,
         context: Context) -> Iterator[Record]:
    tasks = (task(item, counter) for item in items)
    for item, future in zip(items, work.in_order(tasks, bar)):
        try:
            outcome = future.result()
        except OSError as error:
            context.fail(item.shown, reason(error))
            continue
        if isinstance(outcome, Failure):
            context.fail(outcome.shown, outcome.reason)
            continue
        yield {"path": item.shown, **outcome.as_dict()}
        if outcome.truncated:
            context.fail(item.shown, f"cut short while it was read: only its first {outcome.n} "
                                     "bytes are measured")


def task(item: Source | Failure, counter: Progress) -> Callable[[], Report | Failure]:
    if isinstance(item, Failure):
        return lambda: item
    return functools.partial(measure, item, counter)


def measure(source: Source, counter: Progress) -> Report:
    if counter.shown and source.size is not None and source.size > SPAN:
        return in_spans(source.shown, counter).report()
    if source.is_stdin:
        with open(0, "rb", buffering=0, closefd=False) as stdin:
            measured = talvora_tools.histogram_file(stdin)
    else:
        measured = talvora_tools.histogram_file(source.shown)
    counter.add(measured.total)
    return measured.report()


def in_spans(path: str, counter: Progress) -> Histogram:
    """The file's histogram, counted span after span (the file opened once)."""
    measured = Histogram()
    with open(path, "rb", buffering=0) as file:
        while True:
            before = measured.total
            measured.update_file(file, length=SPAN)
            read = measured.total - before
            counter.add(read)
            if read < SPAN:
                return measured


COMMAND = Command("report", "the randomness report of each file (the default command)",
                  add_arguments, run)
