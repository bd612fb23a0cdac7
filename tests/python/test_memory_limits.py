"""Under an address-space limit (ulimit -v) in a child process: inputs that
hold their bytes are measured in place with no room for a copy, and a copy
or a str's UTF-8 form that does not fit raises MemoryError, leaving nothing
behind."""

import subprocess
import sys
import textwrap

import pytest

from support import SANITIZED

pytestmark = pytest.mark.skipif(SANITIZED, reason="AddressSanitizer reserves more address space than any limit")

MIB = 1 << 20
# The child measures once to start the worker pool, makes its input, then
# allows itself only HEADROOM bytes of address space more.
PRELUDE = """
import array, os, resource, talvora
measure = talvora.shannon_entropy_algo.measure_entropy
measure(bytes(1 << 20))
def address_space():
    with open("/proc/self/status") as status:
        return int(next(l for l in status if l.startswith("VmSize:")).split()[1]) * 1024
def limited(call, headroom):
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    resource.setrlimit(resource.RLIMIT_AS, (address_space() + headroom, hard))
    try:
        return call()
    except MemoryError as error:
        return type(error).__name__
    finally:
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
"""


def run(script):
    code = textwrap.dedent(PRELUDE) + textwrap.dedent(script)
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    return done.stdout.split()


def test_byte_buffers_are_measured_without_a_copy():
    # 64 MiB inputs with 16 MiB to spare: a copy cannot be made.
    out = run(f"""
        content = os.urandom({64 * MIB})
        expected = measure(content)
        for make in (bytearray, memoryview, lambda b: array.array("B", b)):
            data = make(content)
            print(limited(lambda: measure(data) == expected, {16 * MIB}))
    """)
    assert out == ["True"] * 3


def test_a_copy_that_does_not_fit_raises_memory_error_and_frees_what_it_took():
    # An array subclass is read through its iterator into a copy that needs
    # 40 MiB with 24 MiB to spare. Once the allocator has settled (its
    # thresholds follow the blocks freed), failures leave the address space
    # as it was; with the limit lifted the copy succeeds.
    out = run(f"""
        class Copied(array.array):
            pass
        data = Copied("B", os.urandom({40 * MIB}))
        first = [limited(lambda: measure(data), {24 * MIB}) for _ in range(2)]
        settled = address_space()
        again = [limited(lambda: measure(data), {24 * MIB}) for _ in range(4)]
        print(first[0], first + again == first[:1] * 6, address_space() - settled)
        print(measure(data) == measure(bytes(data)))
    """)
    assert out[:2] == ["MemoryError", "True"] and int(out[2]) <= 2 * MIB
    assert out[3] == "True"


def test_a_str_whose_utf8_form_does_not_fit_raises_memory_error():
    # 32 MiB of "é" take 64 MiB as UTF-8; 16 MiB are to spare.
    out = run(f"""
        text = "é" * {32 * MIB}
        print(limited(lambda: measure(text), {16 * MIB}))
        print(measure(text) == measure(text.encode()))
    """)
    assert out == ["MemoryError", "True"]
