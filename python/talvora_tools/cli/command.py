"""talvora_tools.cli.command: what a subcommand is (its name, its arguments,
what it runs) and what it is given to run with: the output style, the
failures it reports and the progress bar."""

from __future__ import annotations

import argparse
import contextlib
import dataclasses
import sys
from collections.abc import Callable, Iterator, Sequence

from talvora_tools.cli import formats, progress


class UsageError(Exception):
    """A command line that cannot be carried out as given (exit status 2)."""


@dataclasses.dataclass(frozen=True)
class Command:
    """A subcommand: talvora NAME ...; adding one is a module that defines
    one of these, listed in the application's COMMANDS."""

    name: str
    help: str
    add_arguments: Callable[[argparse.ArgumentParser], None]
    run: Callable[[argparse.Namespace, Context], None]


class Context:
    """What a command writes through: records in the chosen style to
    standard output, failures as one line each to standard error."""

    def __init__(self, style: formats.Style, quiet: bool) -> None:
        self.style = style
        self.quiet = quiet
        self.failed = False
        self._bar: progress.Bar | None = None

    def write(self, records: Iterator[formats.Record] | Sequence[formats.Record],
              columns: Sequence[formats.Column]) -> None:
        for line in formats.lines(records, self.style, columns):
            with self._cleared():
                print(line, flush=self._bar is not None)

    def text(self, line: str) -> None:
        with self._cleared():
            print(line)

    def fail(self, shown: str, reason: str) -> None:
        """Reports an input that could not be measured; the command goes on
        with the others and exits with status 1."""
        self.failed = True
        with self._cleared():
            print(f"talvora: {shown}: {reason}", file=sys.stderr, flush=True)

    @contextlib.contextmanager
    def progress(self, total: int | None, description: str, unit: str = "B") -> Iterator[
            tuple[progress.Progress, progress.Bar]]:
        """A Progress for the workers and its bar (shown only on a terminal,
        after about a second, unless --quiet), counting unit."""
        counter = progress.Progress(total, shown=progress.wanted(self.quiet))
        with progress.Bar(counter, description, unit) as bar:
            self._bar = bar
            try:
                yield counter, bar
            finally:
                self._bar = None

    def _cleared(self) -> contextlib.AbstractContextManager[None]:
        return self._bar.cleared() if self._bar is not None else contextlib.nullcontext()
