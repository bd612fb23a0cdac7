"""talvora_tools.cli.app: the talvora command: its subcommands, its options,
and the one place where the outcome becomes an exit status (0 all went well,
1 some input failed, 2 a usage error, 130 interrupted)."""

from __future__ import annotations

import argparse
import io
import os
import sys
from typing import NoReturn

from talvora_tools.cli import report_command, scan_command, sp800_90b_command
from talvora_tools.cli.command import Command, Context, UsageError

# A new subcommand is a module with a Command, added here.
COMMANDS: tuple[Command, ...] = (report_command.COMMAND, scan_command.COMMAND,
                                 sp800_90b_command.COMMAND)
# `talvora FILE...` means `talvora report FILE...`.
DEFAULT = report_command.COMMAND.name

OK, FAILED, USAGE, INTERRUPTED = 0, 1, 2, 130


def parser() -> argparse.ArgumentParser:
    common = argparse.ArgumentParser(add_help=False)
    style = common.add_mutually_exclusive_group()
    style.add_argument("--json", dest="style", action="store_const", const="json", default="table",
                       help="one JSON object per line (undefined numbers are null)")
    style.add_argument("--csv", dest="style", action="store_const", const="csv",
                       help="comma-separated values with a header line")
    common.add_argument("-q", "--quiet", action="store_true", help="no progress bar")

    top = argparse.ArgumentParser(
        prog="talvora", description="How random are these bytes? Exact entropies and the "
        f"randomness report of files, window by window if asked. Without a subcommand: {DEFAULT}.")
    subcommands = top.add_subparsers(title="subcommands", metavar="SUBCOMMAND", required=True)
    for command in COMMANDS:
        sub = subcommands.add_parser(command.name, parents=[common], help=command.help,
                                     description=command.help)
        command.add_arguments(sub)
        sub.set_defaults(command=command)
    return top


def main(arguments: list[str] | tuple[str, ...] | None = None) -> int:
    """Runs the command line; returns its exit status. Ctrl-C is left to
    the caller (run() turns it into status 130)."""
    if isinstance(arguments, str):  # would be taken apart into one-letter words
        raise TypeError("main() takes the command line as a list of words, not a str")
    words = list(sys.argv[1:] if arguments is None else arguments)
    if not words or words[0] not in {command.name for command in COMMANDS} | {"-h", "--help"}:
        words.insert(0, DEFAULT)
    try:
        options = parser().parse_args(words)
    except SystemExit as exit:  # argparse has printed the usage error or the help
        return exit.code if isinstance(exit.code, int) else USAGE
    context = Context(options.style, options.quiet)
    try:
        options.command.run(options, context)
    except UsageError as error:
        print(f"talvora: {error}", file=sys.stderr)
        return USAGE
    return FAILED if context.failed else OK


def run() -> NoReturn:
    """The console script: main(), with the process's ending. After Ctrl-C,
    or once the reader of the output is gone, workers may be blocked for
    good on a pipe, so the process leaves without waiting for them and
    without a traceback."""
    # Paths that are not valid UTF-8 are written back as the bytes they are.
    if isinstance(sys.stdout, io.TextIOWrapper):
        sys.stdout.reconfigure(errors="surrogateescape")
    try:
        status = main()
        sys.stdout.flush()
    except KeyboardInterrupt:
        leave(INTERRUPTED)
    except BrokenPipeError:
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        leave(FAILED)
    sys.exit(status)


def leave(status: int) -> NoReturn:
    for stream in (sys.stdout, sys.stderr):
        try:
            stream.flush()
        except (OSError, ValueError, KeyboardInterrupt):
            pass
    os._exit(status)
