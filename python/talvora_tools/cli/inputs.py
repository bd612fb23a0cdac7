"""talvora_tools.cli.inputs: the FILE arguments of a command as the inputs
to measure, in order: "-" is standard input, a directory (with -r) its
regular files in sorted path order, walked without following symbolic
links."""

from __future__ import annotations

import dataclasses
import os
import stat
from collections.abc import Iterator, Sequence

STDIN = "-"


@dataclasses.dataclass(frozen=True)
class Source:
    """An input: its path as shown (as given, or under the directory given),
    and its size where it is a regular file (for the progress bar)."""

    shown: str
    size: int | None = None

    @property
    def is_stdin(self) -> bool:
        return self.shown == STDIN


@dataclasses.dataclass(frozen=True)
class Failure:
    """An argument or a file that cannot be measured, and why."""

    shown: str
    reason: str


def reason(error: OSError) -> str:
    return error.strerror or str(error)


def expand(arguments: Sequence[str], recursive: bool) -> Iterator[Source | Failure]:
    """Each argument's inputs, or the failure that stands in its place."""
    for argument in arguments:
        if argument == STDIN:
            yield Source(STDIN)
            continue
        try:
            info = os.stat(argument)  # named by the user: a symbolic link is followed
        except OSError as error:
            yield Failure(argument, reason(error))
            continue
        except ValueError as error:  # a NUL in the name
            yield Failure(argument, str(error))
            continue
        if not stat.S_ISDIR(info.st_mode):
            yield Source(argument, info.st_size if stat.S_ISREG(info.st_mode) else None)
        elif recursive:
            yield from walk(argument)
        else:
            yield Failure(argument, "is a directory (give -r to measure the files in it)")


def walk(top: str) -> Iterator[Source | Failure]:
    """The regular files under top in sorted path order (each directory's
    entries sorted by name, subdirectories entered where they sort). Symbolic
    links, FIFOs, devices and sockets inside are left alone: a FIFO would
    block the walk, and a link may lead out of the tree or around in it."""
    stack: list[Iterator[os.DirEntry[str]]] = []
    yield from enter(top, stack)
    while stack:
        entry = next(stack[-1], None)
        if entry is None:
            stack.pop()
            continue
        try:
            if entry.is_dir(follow_symlinks=False):
                yield from enter(entry.path, stack)
            elif entry.is_file(follow_symlinks=False):
                yield Source(entry.path, entry.stat(follow_symlinks=False).st_size)
        except OSError as error:
            yield Failure(entry.path, reason(error))


def enter(directory: str, stack: list[Iterator[os.DirEntry[str]]]) -> Iterator[Failure]:
    """Puts the directory's entries, sorted, on the stack; or yields why not."""
    try:
        with os.scandir(directory) as entries:
            stack.append(iter(sorted(entries, key=lambda entry: entry.name)))
    except OSError as error:
        yield Failure(directory, reason(error))
