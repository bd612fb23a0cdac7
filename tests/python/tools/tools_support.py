"""Shared pieces of the talvora_tools tests: sample data of the kinds analysts
meet, and a fresh interpreter to run a script in."""

import os
import random
import subprocess
import sys
import textwrap
import zlib

from support import DEBUG_INTERPRETER, SANITIZED

MIB = 1 << 20
# Builds whose counting is many times slower (unoptimised, instrumented):
# the tests that need large inputs take smaller ones there.
SLOW_BUILD = DEBUG_INTERPRETER or SANITIZED

WORDS = (
    "the of and to in is was that for on with as by at from his her it an are were which be this "
    "had not but have one their all they there been has or more when who will would can said "
    "time about into than other some could these two may first then do any like my now over "
    "such our man me even most made after also did many before must through back years where "
    "much your way well down should because each just those people how too little state good "
    "very make world still own see men work long get here between both life being under never"
).split()


def english(n: int, seed: int = 1) -> bytes:
    """n bytes of English-like text: words, commas, sentences, paragraphs."""
    rng = random.Random(seed)
    parts, size = [], 0
    while size < n:
        words = rng.choices(WORDS, k=rng.randint(5, 20))
        sentence = " ".join(words).capitalize() + rng.choice([". ", ". ", ", and ", "? "])
        if rng.random() < 0.1:
            sentence += "\n\n"
        parts.append(sentence)
        size += len(sentence)
    return "".join(parts).encode()[:n]


def sample(kind: str, n: int, seed: int = 0) -> bytes:
    if kind == "random":
        return random.Random(seed).randbytes(n)
    if kind == "text":
        return english(n, seed)
    if kind == "zeros":
        return bytes(n)
    if kind == "compressed":
        return zlib.compress(english(4 * n, seed), 9)[:n]
    raise ValueError(kind)


def run_python(script: str, *args: str, timeout: float = 300, **options) -> subprocess.CompletedProcess:
    """Runs script in a fresh interpreter (this one, same environment)."""
    return subprocess.run([sys.executable, "-c", textwrap.dedent(script), *args],
                          capture_output=True, text=True, timeout=timeout, **options)
