"""Every kind of `data`: buffers of 1-byte items in any layout (counted in C
order), str, sequences of ints; and the errors for everything else."""

import array
import ctypes
import mmap
import re

import numpy as np
import pytest

import talvora_tools
from support import Index, representations
from talvora_tools import Histogram
from tools_support import MIB, sample

CONTENT = sample("text", 3000) + bytes(range(256))


def assert_counts_as(data, expected: bytes):
    assert talvora_tools.histogram(data) == talvora_tools.histogram(expected)
    h = Histogram()
    h.update(data)
    assert h == talvora_tools.histogram(expected)
    assert talvora_tools.report(data) == talvora_tools.report(expected)


@pytest.mark.parametrize("name", list(representations(CONTENT)))
def test_every_form_talvora_takes(name):
    assert_counts_as(representations(CONTENT)[name], CONTENT)


def test_str_is_counted_as_its_utf8_bytes():
    assert_counts_as("é", b"\xc3\xa9")
    with pytest.raises(UnicodeEncodeError):
        talvora_tools.histogram("\udc80")


def buffers(content: bytes, tmp_path):
    """content in the buffer types of the standard library and numpy."""
    path = tmp_path / "mapped"
    path.write_bytes(content)
    with open(path, "rb") as f:
        mapped = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
    signed = np.frombuffer(content, np.uint8).astype(np.int8)
    return {
        "mmap": mapped,
        "array b": array.array("b", signed.tobytes()),
        "ctypes ubyte": (ctypes.c_ubyte * len(content)).from_buffer_copy(content),
        "ctypes char": ctypes.create_string_buffer(content, len(content)),
        "ctypes byte": (ctypes.c_byte * len(content)).from_buffer_copy(content),
        "numpy uint8": np.frombuffer(content, np.uint8),
        "numpy int8": signed,
        "numpy bool": np.frombuffer(content, np.uint8) % 2 == 1,
        "memoryview cast c": memoryview(content).cast("c"),
    }


def test_buffers_of_single_bytes(tmp_path):
    for name, data in buffers(CONTENT, tmp_path).items():
        expected = bytes(memoryview(data).cast("B")) if name != "numpy bool" else data.tobytes()
        assert_counts_as(data, expected)


def test_numpy_layouts_are_counted_in_c_order():
    base = np.frombuffer(sample("random", 6 * 7 * 11 * 3, seed=8), np.uint8).reshape(6, 7, 11, 3)
    layouts = {
        "step": base.reshape(-1)[::3],
        "reversed": base.reshape(-1)[::-1],
        "transposed": base.transpose(2, 0, 3, 1),
        "fortran": np.asfortranarray(base),
        "sliced 4-d": base[1:5, ::2, 3:, ::-2],
        "column": base.reshape(-1, 3)[:, 1],
        "broadcast": np.broadcast_to(base[0, 0, 0], (4, 5, 3)),
        "zero-d": np.uint8(200),
        "zero-d array": base[2, 3, 4, 1, ...],
        "empty": base[:, :0],
        "rows of a wide array": np.frombuffer(sample("random", 4000), np.uint8).reshape(40, 100)[:, 10:13],
    }
    for name, data in layouts.items():
        assert_counts_as(data, np.ascontiguousarray(data).tobytes())


def test_long_strided_input_is_walked_in_blocks():
    """Longer than a block, with the interpreter lock released: the same as
    the contiguous copy."""
    base = np.frombuffer(sample("random", 7 * MIB + 13, seed=2), np.uint8)
    for data in (base[::3], base[1::2][::-1], np.broadcast_to(base[:3], (MIB, 3)),
                 base[: 2 * MIB].reshape(-1, 1024)[:, 3:700]):
        assert_counts_as(data, np.ascontiguousarray(data).tobytes())


def test_sequences_of_ints():
    assert_counts_as(range(250), bytes(range(250)))
    assert_counts_as([True, False, Index(255), np.uint8(7)], bytes([1, 0, 255, 7]))
    long = list(sample("random", 2 * MIB + 77))
    assert_counts_as(long, bytes(long))


@pytest.mark.parametrize("items,index,message", [
    ([1, 256], 1, "is 256, outside 0..255"),
    ((0, 0, 0, -1), 3, "is -1, outside 0..255"),
    ([2**80], 0, "is outside 0..255"),
    ([Index(300)], 0, "is 300"),
])
def test_item_out_of_range_names_its_index(items, index, message):
    with pytest.raises(ValueError, match=re.escape(f"item {index} of the sequence {message}")):
        talvora_tools.histogram(items)


def test_item_of_another_type_names_its_index_and_type():
    with pytest.raises(TypeError, match=r"item 2 of the sequence is a 'float', not an int"):
        talvora_tools.histogram([1, 2, 3.0])


def test_errors_raised_while_reading_a_sequence_pass_through():
    class Raising:
        def __getitem__(self, i):
            raise KeyError("inside")

    with pytest.raises(KeyError, match="inside"):
        talvora_tools.histogram(Raising())


def test_released_memoryview_and_closed_mmap_raise_pythons_own_error(tmp_path):
    view = memoryview(b"abc")
    view.release()
    with pytest.raises(ValueError) as python_says:
        memoryview(view)
    with pytest.raises(ValueError, match=re.escape(str(python_says.value))):
        talvora_tools.histogram(view)

    path = tmp_path / "f"
    path.write_bytes(b"abc")
    with open(path, "rb") as f:
        mapped = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
    mapped.close()
    with pytest.raises(ValueError) as python_says:
        memoryview(mapped)
    with pytest.raises(ValueError, match=re.escape(str(python_says.value))):
        Histogram().update(mapped)


@pytest.mark.parametrize("data", [
    array.array("H", [1, 2, 3]), np.arange(5, dtype=np.uint16), np.zeros((2, 2)),
    memoryview(b"abcdefgh").cast("I"), array.array("f", [1.0]),
], ids=["array H", "numpy uint16", "numpy float64", "memoryview I", "array f"])
def test_wide_items_are_refused_with_the_way_to_count_their_bytes(data):
    with pytest.raises(TypeError, match=re.escape("pass memoryview(x).cast('B')")) as refused:
        talvora_tools.histogram(data)
    assert f"'{type(data).__module__}.{type(data).__qualname__}'".replace("'builtins.", "'") \
        in str(refused.value)
    assert_counts_as(memoryview(data).cast("B"), memoryview(data).tobytes())


@pytest.mark.parametrize("data,name", [
    (None, "NoneType"), (5, "int"), (1.5, "float"), ({1: 2}, "dict"), ({1}, "set"),
    ((b for b in b"ab"), "generator"), (object(), "object"),
])
def test_other_objects_are_refused_naming_their_type(data, name):
    expected = f"a str or a sequence of ints 0..255, not '{name}'"
    for call in (talvora_tools.histogram, talvora_tools.report, Histogram, Histogram().update):
        with pytest.raises(TypeError, match=re.escape(expected)):
            call(data)
