"""talvora_tools._files: the bytes of a file given by path or as an open
binary file object, added to a histogram."""

from __future__ import annotations

import io
import operator
import os
from collections.abc import Iterator
from typing import BinaryIO, SupportsIndex

from talvora_tools._native import Histogram as NativeHistogram

# A path, or a binary file object read from its current position.
FileSource = str | bytes | os.PathLike[str] | os.PathLike[bytes] | BinaryIO

# File objects that cannot be read at a position are read in blocks of this
# size through their own methods (they may hold buffered bytes of their own).
STREAM_BLOCK = 1 << 20
# Offsets and lengths beyond this mean the same as it: past any end, and to
# the end.
MAX_NATIVE = 2**64 - 1


def checked_span(offset: SupportsIndex, length: SupportsIndex | None) -> tuple[int, int | None]:
    offset = operator.index(offset)
    if offset < 0:
        raise ValueError(f"offset must not be negative, not {offset}")
    if length is None:
        return offset, None
    length = operator.index(length)
    if length < 0:
        raise ValueError(f"length must not be negative, not {length}")
    return offset, length


def add_file(histogram: NativeHistogram, source: FileSource, offset: SupportsIndex,
             length: SupportsIndex | None) -> None:
    """Adds the bytes of source, from offset, at most length of them."""
    start, limit = checked_span(offset, length)
    if isinstance(source, (str, bytes, os.PathLike)):
        path = os.fspath(source)
        # Opened once (a FIFO opened twice would lose its writer), without
        # the interpreter lock while open() waits for a FIFO's writer.
        fd = os.open(path, os.O_RDONLY | os.O_NOCTTY)
        try:
            histogram._update_fd(fd, min(start, MAX_NATIVE), native_limit(limit), path)
        finally:
            os.close(fd)
    elif isinstance(source, io.TextIOBase):
        raise TypeError("a text file was given: open it in binary mode ('rb') to count its bytes")
    elif callable(getattr(source, "readinto", None)) or callable(getattr(source, "read", None)):
        add_file_object(histogram, source, start, limit)
    else:
        raise TypeError("the file must be a str, bytes or os.PathLike path or a binary file "
                        f"object, not '{type(source).__qualname__}'")


def add_file_object(histogram: NativeHistogram, file: BinaryIO, start: int,
                    limit: int | None) -> None:
    """From the file's current position; afterwards it stands after the
    bytes read, as if read() had read them."""
    fd = file_descriptor(file)
    if fd is not None and file.seekable():
        file.flush()
        position = file.tell() + start
        name = getattr(file, "name", fd)
        read = histogram._update_fd(fd, min(position, MAX_NATIVE), native_limit(limit), name)
        after = position + read
        if read == 0:  # a length of 0, or an offset past the end: not beyond the end
            after = min(after, file.seek(0, os.SEEK_END))
        file.seek(after)
        return
    # Read through the object: a buffered stream holds bytes its descriptor
    # no longer has. The blocks go into a histogram of their own, so the
    # file's bytes reach this one as one update.
    part = NativeHistogram()
    for block in blocks(file, start, limit):
        part.update(block)
    histogram.merge(part)


def native_limit(limit: int | None) -> int | None:
    return None if limit is None else min(limit, MAX_NATIVE)


def file_descriptor(file: BinaryIO) -> int | None:
    try:
        return file.fileno()
    except (AttributeError, OSError, ValueError):
        return None


def blocks(file: BinaryIO, skip: int, limit: int | None) -> Iterator[memoryview]:
    """The file's bytes after the first skip, at most limit of them, in
    views of one buffer (each valid until the next is made)."""
    view = memoryview(bytearray(STREAM_BLOCK))
    while skip > 0:
        got = read_into(file, view[:min(skip, STREAM_BLOCK)])
        if got == 0:
            return
        skip -= got
    while limit is None or limit > 0:
        got = read_into(file, view[:STREAM_BLOCK if limit is None else min(limit, STREAM_BLOCK)])
        if got == 0:
            return
        if limit is not None:
            limit -= got
        yield view[:got]


def read_into(file: BinaryIO, target: memoryview) -> int:
    """Reads into target as far as the file gives; 0 at its end."""
    readinto = getattr(file, "readinto", None)
    if readinto is not None:
        return int(readinto(target) or 0)
    data = file.read(len(target))
    target[:len(data)] = data
    return len(data)
