"""tools/demo.py: the four measures of a few files, or of built-in samples.

Run through `./dev demo [FILE...]`, which passes each file as two arguments:
the path as the user typed it (shown) and where it can be read (inside the
build root). Without files, it measures zeros, English text, random bytes
and compressed text.
"""

import os
import sys
import zlib

import talvora

ENGLISH = (
    b"It was the best of times, it was the worst of times, it was the age of "
    b"wisdom, it was the age of foolishness, it was the epoch of belief, it was "
    b"the epoch of incredulity, it was the season of Light, it was the season "
    b"of Darkness, it was the spring of hope, it was the winter of despair."
)
COLUMNS = ("name", "length", "Shannon", "metric", "normalized", "min-entropy")


def samples():
    yield "zeros (4 KiB)", bytes(4096)
    yield "English text", ENGLISH
    yield "random bytes (64 KiB)", os.urandom(65536)
    yield "zlib of English text", zlib.compress(ENGLISH * 40, 9)


def files(arguments):
    for shown, real in zip(arguments[::2], arguments[1::2]):
        with open(real, "rb") as file:
            yield shown, file.read()


def row(name, data):
    shannon = talvora.shannon_entropy_algo
    return (
        name,
        f"{len(data):,}",
        f"{shannon.measure_entropy(data):.6f}",
        f"{shannon.measure_metric_entropy(data):.6f}",
        f"{shannon.measure_normalized_metric_entropy(data):.6f}",
        f"{talvora.min_entropy_algo.measure_entropy(data):.6f}",
    )


def main(arguments):
    if len(arguments) % 2:
        sys.exit("demo.py: expects pairs of DISPLAY_PATH REAL_PATH")
    rows = [row(name, data) for name, data in (files(arguments) if arguments else samples())]
    widths = [max(len(r[i]) for r in [COLUMNS, *rows]) for i in range(len(COLUMNS))]
    for cells in [COLUMNS, *rows]:
        name, *numbers = cells
        print("  ".join([name.ljust(widths[0])] + [c.rjust(w) for c, w in zip(numbers, widths[1:])]))


if __name__ == "__main__":
    main(sys.argv[1:])
