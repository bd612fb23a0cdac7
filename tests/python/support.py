"""Shared helpers of the Python tests: a reference for the Shannon and
min-entropy arithmetic, the conversion messages, small classes and the forms
`data` can take."""

import array
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


OUT_OF_RANGE = "OverflowError: out of range integral type conversion attempted"


def not_str(name: str) -> str:
    """The str attempt's cause for an object of class `name`."""
    return f"TypeError: '{name}' object is not an instance of 'str'"


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


class LyingLength(ItemsOnly):
    """A sequence whose __len__ is wrong (0 by default, so a copy grows from
    nothing) or raises, when `length` is an exception."""

    def __init__(self, items, length=0):
        super().__init__(items)
        self.length = length

    def __len__(self):
        if isinstance(self.length, Exception):
            raise self.length
        return self.length

    def __iter__(self):
        return iter(self.items)


class Small(int):
    """An int subclass."""


class BytesSubclass(bytes):
    pass


class BytearraySubclass(bytearray):
    pass


class ListSubclass(list):
    """Read through the iterator protocol, unlike an exact list."""


class StrSubclass(str):
    pass


# Each form `data` can take, made from its bytes.
FORMS = {
    "bytes": bytes,
    "bytes subclass": BytesSubclass,
    "bytearray": bytearray,
    "bytearray subclass": BytearraySubclass,
    "memoryview": memoryview,
    "array": lambda content: array.array("B", content),
    "list": list,
    "list subclass": ListSubclass,
    "tuple": tuple,
    "__getitem__ only": ItemsOnly,
    "hint of 0": LyingLength,
    "__index__ items": lambda content: [Index(b) for b in content],
}


def representations(content: bytes) -> dict:
    """`content` in every form of FORMS, and as str and a str subclass when
    it is UTF-8; each form is measured as `content` is."""
    forms = {name: make(content) for name, make in FORMS.items()}
    try:
        forms["str"] = content.decode()
        forms["str subclass"] = StrSubclass(forms["str"])
    except UnicodeDecodeError:
        pass
    return forms
