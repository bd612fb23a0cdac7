"""tools/demo.py: the talvora command line on a few files, or on built-in
samples.

Run through `./dev demo [FILE...]`, which passes each file as two arguments:
the path as the user typed it (shown) and where it can be read (inside the
build root). Without files, it writes zeros, English text, random bytes,
compressed text and a firmware-like image (zeros, random, text, random) to a
temporary folder and runs `talvora report` on them and `talvora scan` on the
image; with files, `talvora report` on them and `talvora scan` on each.
"""

import math
import os
import random
import subprocess
import sys
import tempfile
import zlib

KIB = 1 << 10
ENGLISH = (
    b"It was the best of times, it was the worst of times, it was the age of "
    b"wisdom, it was the age of foolishness, it was the epoch of belief, it was "
    b"the epoch of incredulity, it was the season of Light, it was the season "
    b"of Darkness, it was the spring of hope, it was the winter of despair."
)
WORDS = random.Random(1)


def text(n):
    """n bytes of the passage's words in a random order."""
    words = ENGLISH.split()
    chosen = WORDS.choices(words, k=n // 4)
    return b" ".join(chosen)[:n]


def samples():
    noise = os.urandom(256 * KIB)
    yield "zeros.bin", bytes(64 * KIB)
    yield "english.txt", text(64 * KIB)
    yield "random.bin", noise
    yield "english.txt.z", zlib.compress(text(256 * KIB), 9)
    yield "firmware.img", bytes(64 * KIB) + noise[:128 * KIB] + text(64 * KIB) + noise[128 * KIB:192 * KIB]


def talvora(arguments, cwd=None, shown=None):
    """Prints the command as typed and runs it; its output with the real
    paths shown as typed. Returns its exit status."""
    shown = shown or {}
    print("$ talvora " + " ".join(shown.get(a, a) for a in arguments), flush=True)
    done = subprocess.run([sys.executable, "-m", "talvora_tools", *arguments], cwd=cwd,
                          capture_output=True, text=True)
    output = done.stdout
    for real, typed in shown.items():
        output = output.replace(real, typed)
    print(output, end="", flush=True)
    print(done.stderr, end="", file=sys.stderr, flush=True)
    print()
    return done.returncode


def scan_window(size):
    """A power of two that cuts the file into at most 24 windows."""
    return max(256, 1 << max(0, math.ceil(math.log2(max(size, 1) / 24))))


def main(arguments):
    if len(arguments) % 2:
        sys.exit("demo.py: expects pairs of DISPLAY_PATH REAL_PATH")
    if arguments:
        shown = dict(zip(arguments[1::2], arguments[::2]))
        status = talvora(["report", *shown], shown=shown)
        for real in shown:
            window = scan_window(os.path.getsize(real))
            status = max(status, talvora(["scan", real, "--window", str(window), "--edges"], shown=shown))
        return status
    with tempfile.TemporaryDirectory() as folder:
        names = []
        for name, content in samples():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(content)
            names.append(name)
        return max(talvora(["report", *names], cwd=folder),
                   talvora(["scan", "firmware.img", "--window", "16K", "--edges", "--regions", "0.9"],
                           cwd=folder))


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
