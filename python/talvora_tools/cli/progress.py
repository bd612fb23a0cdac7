"""talvora_tools.cli.progress: how far the work has come, counted by the
worker threads and shown by the main thread as a tqdm bar on standard error
once the work has taken about a second, and only on a terminal."""

from __future__ import annotations

import contextlib
import sys
import threading
from collections.abc import Iterator
from types import TracebackType
from typing import Any

# Work quicker than this shows no bar at all.
SHOW_AFTER = 1.0


class Progress:
    """Work done so far (bytes, unless the bar says otherwise); workers add
    to it from any thread."""

    def __init__(self, total: int | None, *, shown: bool) -> None:
        self.total = total
        self.shown = shown
        self._lock = threading.Lock()
        self._done = 0

    def add(self, count: int) -> None:
        with self._lock:
            self._done += count

    @property
    def done(self) -> int:
        with self._lock:
            return self._done


def wanted(quiet: bool) -> bool:
    """Whether a bar may be shown: standard error is a terminal and the user
    did not ask for quiet."""
    return not quiet and sys.stderr is not None and sys.stderr.isatty()


class Bar:
    """The bar of a Progress, brought up to date by show(); a context
    manager that takes the bar away at its end."""

    def __init__(self, progress: Progress, description: str, unit: str = "B") -> None:
        self._progress = progress
        self._bar: Any = None
        self._on_screen = False
        if progress.shown:
            # Imported only when a bar may be shown: a command whose output
            # goes to a pipe starts without it.
            from tqdm import tqdm  # type: ignore[import-untyped]  # tqdm ships no types

            # Bytes in KiB, MiB...; other units (shuffles, say) as counted.
            in_bytes = unit == "B"
            self._bar = tqdm(total=progress.total, desc=description, unit=unit,
                             unit_scale=in_bytes, unit_divisor=1024, delay=SHOW_AFTER,
                             leave=False, file=sys.stderr, dynamic_ncols=True)

    def show(self) -> None:
        if self._bar is not None and self._bar.update(self._progress.done - self._bar.n):
            self._on_screen = True

    @contextlib.contextmanager
    def cleared(self) -> Iterator[None]:
        """Around writing a line: the bar steps aside meanwhile, so the two
        do not mix on the terminal."""
        if not self._on_screen:
            yield
            return
        from tqdm import tqdm

        with tqdm.external_write_mode(file=sys.stderr):
            yield

    def __enter__(self) -> Bar:
        return self

    def __exit__(self, kind: type[BaseException] | None, error: BaseException | None,
                 trace: TracebackType | None) -> None:
        if self._bar is not None:
            self._bar.close()
