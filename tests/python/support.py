"""Shared helpers of the Python tests: a reference for the Shannon and
min-entropy arithmetic, the composed conversion message, small classes."""

import collections
import math
import os
import sys

import talvora

SHANNON = talvora.shannon_entropy_algo
MEASURES = {
    "shannon": SHANNON.measure_entropy,
    "metric": SHANNON.measure_metric_entropy,
    "normalized": SHANNON.measure_normalized_metric_entropy,
    "min": talvora.min_entropy_algo.measure_entropy,
}
SANITIZED = os.environ.get("TALVORA_SANITIZED") == "1"
DEBUG_INTERPRETER = hasattr(sys, "gettotalrefcount")


def reference_shannon(data: bytes) -> float:
    """The Shannon sum in its fixed order: ascending byte value, from -0.0."""
    acc = -0.0
    for _, count in sorted(collections.Counter(data).items()):
        p = count / len(data)
        acc = acc - math.log2(p) * p
    return acc


def reference_min(data: bytes) -> float:
    return -math.log2(max(collections.Counter(data).values()) / len(data))


def composed_message(str_cause: str, bytes_cause: str) -> str:
    """The three-line TypeError of a failed `data` conversion."""
    return (
        "failed to extract enum BytesOrStr ('Str | Bytes')\n"
        "- variant Str (Str): TypeError: failed to extract field BytesOrStr::Str.0, "
        f"caused by {str_cause}\n"
        "- variant Bytes (Bytes): TypeError: failed to extract field BytesOrStr::Bytes.0, "
        f"caused by {bytes_cause}"
    )


class Index:
    """An int stand-in through __index__."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class ItemsOnly:
    """A sequence with __getitem__ and nothing else: no __len__, no __iter__."""

    def __init__(self, items):
        self.items = list(items)

    def __getitem__(self, i):
        return self.items[i]
